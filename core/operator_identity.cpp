#include "core/operator_identity.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace vordak {

OperatorIdentity operator_identity() {
  OperatorIdentity identity{"?", "?"};
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    identity.user = found->pw_name;
  }
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) == 0 && host[0] != '\0') identity.host = host.data();
  return identity;
}

}  // namespace vordak
