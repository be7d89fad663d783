#include "jxcli/memory_reserve.h"

#include <cstdlib>
#include <new>

namespace jxcli {
namespace {

// Small enough to come from the heap rather than a mapping of its own, so that what it frees
// serves the small allocation of the exception.
constexpr std::size_t kReserveSize = 64 * 1024;

void* reserve = nullptr;

void give_back_reserve() {
  std::free(reserve);
  reserve = nullptr;
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

}  // namespace

bool keep_memory_reserve() {
  if (reserve == nullptr) reserve = std::malloc(kReserveSize);
  if (reserve == nullptr) return false;
  std::set_new_handler(give_back_reserve);
  return true;
}

}  // namespace jxcli
