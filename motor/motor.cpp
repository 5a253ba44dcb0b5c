#include "motor/motor.h"

namespace vordak::motor {

namespace {

Env& env_of(const MotorArgs& args) { return args.env != nullptr ? *args.env : Env::system(); }

}  // namespace

Motor::Motor(MotorArgs args, Sink& out)
    : env_(env_of(args)),
      out_(out),
      executor_(args.executor ? args.executor : make_default_executor()),
      season_(args, env_, out_),
      changes_(season_, env_, out_),
      records_(season_, env_),
      report_(season_, env_, out_),
      runner_(season_, changes_, records_, report_, *executor_, env_, out_) {}

}  // namespace vordak::motor
