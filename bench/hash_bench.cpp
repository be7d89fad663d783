// Words per second absorbed by Hash and by its direct reference form at the library's 288-byte
// size, bytes per second through Hash::digest_bytes, and the time of one get() of each.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "jx/hash.h"
#include "reference_hash.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Digests words until at least `budget` seconds have passed; returns words per second.
template <class H>
double words_per_second(H& hash, double budget) {
  std::uint32_t word = 0x12345678;
  std::uint64_t words = 0;
  const Clock::time_point start = Clock::now();
  double elapsed = 0;
  while (elapsed < budget) {
    for (int i = 0; i < 1000; ++i) hash.digest(word += 0x9E3779B9u);
    words += 1000;
    elapsed = seconds_since(start);
  }
  return static_cast<double>(words) / elapsed;
}

double bytes_per_second(jx::Hash& hash, double budget) {
  std::vector<std::uint8_t> buffer(1 << 16);
  for (std::size_t k = 0; k < buffer.size(); ++k) buffer[k] = static_cast<std::uint8_t>(k * 131);
  std::uint64_t bytes = 0;
  const Clock::time_point start = Clock::now();
  double elapsed = 0;
  while (elapsed < budget) {
    hash.digest_bytes(buffer);
    bytes += buffer.size();
    elapsed = seconds_since(start);
  }
  return static_cast<double>(bytes) / elapsed;
}

template <class H>
double get_milliseconds(const H& hash) {
  const Clock::time_point start = Clock::now();
  const std::vector<std::uint8_t> digest = hash.get();
  const double ms = seconds_since(start) * 1000;
  if (digest.size() != hash.size()) std::printf("short digest\n");
  return ms;
}

}  // namespace

int main() {
  constexpr std::size_t kSize = 288;
  jx::ReferenceHash direct(kSize);
  jx::Hash fast(kSize);
  const double direct_rate = words_per_second(direct, 1.0);
  const double fast_rate = words_per_second(fast, 1.0);
  jx::Hash bytes_hash(kSize);
  const double byte_rate = bytes_per_second(bytes_hash, 1.0);
  std::printf("reference  %12.0f words/s\n", direct_rate);
  std::printf("Hash       %12.0f words/s  (%.1fx)\n", fast_rate, fast_rate / direct_rate);
  std::printf("Hash       %12.2f MB/s through digest_bytes\n", byte_rate / 1e6);
  std::printf("reference::get  %8.2f ms\n", get_milliseconds(direct));
  std::printf("Hash::get       %8.2f ms\n", get_milliseconds(fast));
  return 0;
}
