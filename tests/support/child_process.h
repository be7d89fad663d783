#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <string>

namespace jxtest {

// Runs `body` in a child process, so that it may change process-wide limits and filters, and
// returns the text that it gives back.
std::string in_child(const std::function<std::string()>& body);

// Files of this process may grow to `limit` bytes; a write beyond fails with EFBIG.
void limit_file_size(rlim_t limit);

// Makes every plain write to `fd` of fewer than `count` bytes accept nothing, as a write that
// stalls does, for the rest of the process. False where the system offers no such filter.
bool stall_short_writes(int fd, std::uint32_t count);

}  // namespace jxtest
