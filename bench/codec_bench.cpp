// Time per 256-byte block of each stage of the stream codec, in memory, with the vector code
// and with the portable code, beside the generator alone, whose chain bounds the inflate
// option. Best of several rounds, since the machine is shared.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "block_plan.h"
#include "jx/context.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps results alive so that the stages are not optimised away.
volatile std::uint8_t sink;

// The best time per call of `stage` over several rounds of `calls` calls, in nanoseconds.
template <class Stage>
double nanoseconds_per_call(std::size_t calls, Stage&& stage) {
  for (std::size_t i = 0; i < calls / 10; ++i) stage(i);
  double best = 1e300;
  for (int round = 0; round < 7; ++round) {
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < calls; ++i) stage(i);
    const double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    best = std::min(best, elapsed / static_cast<double>(calls));
  }
  return best;
}

void report(const char* stage, double nanoseconds) {
  std::printf("  %-34s %8.1f ns/block  %8.0f MB/s\n", stage, nanoseconds, 256e3 / nanoseconds);
}

jx::Key bench_key() {
  std::vector<std::uint8_t> seed(jx::Key::kSeedSize);
  jx::Rng rng(jx::Rng::Seed{0x42, 0x45, 0x4E, 0x43, 0x48});
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return jx::Key::new_from_seed(seed).value();
}

void run_stages(const jx::Key& key) {
  auto context = std::make_unique<jx::Context>(key, jx::Rng(jx::Rng::Seed{1, 2, 3}));
  jx::ByteTable position;
  for (std::size_t i = 0; i < 256; ++i) position[key.k[i]] = static_cast<std::uint8_t>(i);
  constexpr std::size_t kBlocks = 1024;  // 256 KiB of input, as one chunk of a file
  std::vector<std::uint8_t> input(256 * kBlocks), output(1024 * kBlocks);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i * 131);
  jx::BlockPlan plan;
  const std::size_t calls = 200000;

  report("plan (pad and length)", nanoseconds_per_call(calls, [&](std::size_t i) {
           jx::plan_block(key, true, i, plan);
           sink = plan.pad[256];
         }));
  report("plan + scramble", nanoseconds_per_call(calls, [&](std::size_t i) {
           const std::size_t at = 256 * (i % kBlocks);
           jx::plan_block(key, false, i, plan);
           jx::scramble(plan, key.k, &input[at], &output[at]);
           sink = output[at];
         }));
  report("plan + unscramble", nanoseconds_per_call(calls, [&](std::size_t i) {
           const std::size_t at = 256 * (i % kBlocks);
           jx::plan_block(key, false, i, plan);
           jx::unscramble(plan, position, &input[at], &output[at]);
           sink = output[at];
         }));
  report("inflate_4x", nanoseconds_per_call(calls / 4, [&](std::size_t i) {
           const std::size_t at = (i % kBlocks);
           context->inflate_4x(&input[256 * at], &output[1024 * at]);
           sink = output[1024 * at];
         }));
  std::vector<std::uint8_t> choices(768);
  for (auto& choice : choices) choice = static_cast<std::uint8_t>(context->rng.get());
  report("expand (inflate's lookups alone)", nanoseconds_per_call(calls / 4, [&](std::size_t i) {
           const std::size_t at = (i % kBlocks);
           jx::expand(*context->tables, &input[256 * at], choices.data(), &output[1024 * at]);
           sink = output[1024 * at];
         }));
  report("contract", nanoseconds_per_call(calls, [&](std::size_t i) {
           const std::size_t at = (i % (kBlocks / 4));
           jx::contract(*context, position, &output[1024 * at], &input[256 * at]);
           sink = input[256 * at];
         }));
}

// The generator's part of inflate_4x on its own: its chain of steps is the floor of inflate.
[[gnu::noinline]] void draw_choices(jx::Rng& rng, std::uint8_t* choices) {
  std::size_t i = 0;
  jx::for_each_step(rng, 768,
                    [&](std::uint64_t out) { choices[i++] = static_cast<std::uint8_t>(out); });
}

}  // namespace

int main() {
  const jx::Key key = bench_key();
  const bool vector_available = jx::vector_code_enabled();
  for (bool vector : {true, false}) {
    if (vector && !vector_available) continue;
    jx::enable_vector_code(vector);
    std::printf("%s code\n", vector ? "vector (AVX-512 VBMI)" : "portable");
    run_stages(key);
  }
  jx::Rng rng(jx::Rng::Seed{7});
  std::uint8_t choices[768];
  std::printf("generator\n");
  report("768 steps of inflate_4x, alone", nanoseconds_per_call(50000, [&](std::size_t) {
           draw_choices(rng, choices);
           sink = choices[767];
         }));
  return 0;
}
