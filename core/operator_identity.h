#pragma once

// Who runs this process, and where: the name an acceptance or a record is signed with.

#include <string>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

struct OperatorIdentity {
  std::string user;  // the effective user's login name ("?" when unknown)
  std::string host;  // this machine's host name ("?" when unknown)
};

OperatorIdentity operator_identity();

}  // namespace vordak

VORDAK_PUBLIC_END
