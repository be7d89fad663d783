#include "jxcli/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace jxcli {

void forbid_core_dumps() {
  // Both limits, so that nothing the program runs later can raise the soft one again.
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace jxcli
