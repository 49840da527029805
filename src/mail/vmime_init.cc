#include "mail/vmime_init.h"

#include <mutex>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/vmime.hpp>

namespace tollbook::mail {

void EnsureVmimeInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { vmime::platform::setHandler<vmime::platforms::posix::posixHandler>(); });
}

}  // namespace tollbook::mail
