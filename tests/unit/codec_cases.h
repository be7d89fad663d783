#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jx/context.h"
#include "scratch.h"

namespace jx {

using Bytes = std::vector<std::uint8_t>;

// The key of the codec tests, made from a seeded generator.
Key test_key();

// A generator with a fixed seed, for streams that can be compared byte for byte.
extern const Rng kSeeded;

// Input bytes with a pattern that varies across blocks; `salt` shifts it.
Bytes sample_input(std::size_t size, std::uint8_t salt = 0);

Options options_of(int bits);

// "ok", or the detailed form of the error.
std::string describe(const Status& status);

// Runs `body` with each way the block code can run here: with the processor's vector
// instructions where it has them, and with the portable code.
void on_each_code_path(const std::function<void()>& body);

// Encoding and decoding of files in a scratch directory.
class CodecTest : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.at(name); }
  void write(const std::string& name, const Bytes& bytes) const { scratch_.write(name, bytes); }
  Bytes read(const std::string& name) const { return scratch_.read_bytes(name); }
  // Every name in the scratch directory, temporary files included, sorted.
  std::vector<std::string> entries() const { return scratch_.entries(); }

 private:
  jxtest::Scratch scratch_;
};

}  // namespace jx
