#pragma once

namespace jxcli {

// Keeps keys, passwords and plaintext out of core files: no core is written and no other
// process of the same user may read the process's memory. Called first in every program.
void forbid_core_dumps();

}  // namespace jxcli
