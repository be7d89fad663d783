#include "pipeline_shape.h"

#include <sys/stat.h>

#include <algorithm>

#include "jx/thread_count.h"

namespace jx {
namespace {

// The stored bytes of a batch: large enough that its reads and writes cost little more than
// those of one thread's chunks.
constexpr std::size_t kStoredPerBatch = 256 * 1024;
// Below this many bytes left in a regular file, starting threads costs what they save.
constexpr std::uint64_t kSmallestParallelInput = 1024 * 1024;

bool is_small_regular_file(File& input) {
  struct stat info;
  if (::fstat(input.fd(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  auto at = input.position();
  if (!at) return false;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  return size < at.value() || size - at.value() < kSmallestParallelInput;
}

}  // namespace

std::optional<PipelineShape> choose_shape(std::size_t threads, std::size_t block_size,
                                          bool inflating, File& input) {
  if (threads <= 1 || is_small_regular_file(input)) return std::nullopt;
  // The generator's chain keeps one thread busy on its own.
  const std::size_t transforming = inflating ? threads - 1 : threads;
  const std::size_t workers = std::clamp<std::size_t>(transforming, 1, kMostUsefulThreads);
  return PipelineShape{workers, kStoredPerBatch / block_size, 2 * workers + 2};
}

}  // namespace jx
