#include "core/helper_thread.h"

#include <system_error>

namespace vordak {

HelperThread::HelperThread(std::function<void()> work) : work_(std::move(work)) {
  pthread_attr_t attributes;
  if (const int error = pthread_attr_init(&attributes); error != 0) {
    throw std::system_error(error, std::generic_category(), "thread");
  }
  // Every CPU the creator may use but the one it runs on; none: wherever the system says.
  const int here = sched_getcpu();
  if (here >= 0 && here < CPU_SETSIZE && pthread_getaffinity_np(pthread_self(), sizeof allowed_, &allowed_) == 0) {
    cpu_set_t elsewhere = allowed_;
    CPU_CLR(here, &elsewhere);
    spread_ = CPU_COUNT(&elsewhere) > 0 && pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere) == 0;
  }
  const int error = pthread_create(&thread_, &attributes, &HelperThread::run, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) throw std::system_error(error, std::generic_category(), "thread");
  joinable_ = true;
}

HelperThread::~HelperThread() { join(); }

void HelperThread::join() {
  if (!joinable_) return;
  pthread_join(thread_, nullptr);
  joinable_ = false;
}

void* HelperThread::run(void* self) noexcept {
  HelperThread& helper = *static_cast<HelperThread*>(self);
  if (helper.spread_) pthread_setaffinity_np(pthread_self(), sizeof helper.allowed_, &helper.allowed_);
  helper.work_();
  return nullptr;
}

}  // namespace vordak
