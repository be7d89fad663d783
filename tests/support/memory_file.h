#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jx/file.h"

namespace jxtest {

// A file in memory holding the bytes, positioned at its start; throws if the system cannot
// make one.
jx::File memory_file(std::span<const std::uint8_t> bytes = {});

// Every byte of a file, read without moving its position.
std::vector<std::uint8_t> contents_of(const jx::File& file);

}  // namespace jxtest
