#pragma once

namespace jxcli {

// A little memory kept aside so that a failed allocation can still be reported: when the
// allocator fails, the reserve is given back and std::bad_alloc thrown, so that the exception
// itself finds room even where the runtime's own emergency pool could not be set up.
// false when not even the reserve can be had.
bool keep_memory_reserve();

}  // namespace jxcli
