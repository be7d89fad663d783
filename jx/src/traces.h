#pragma once

namespace jx {

// Zeroes a generous stretch of the stack below the caller's frame, where frames that have
// returned keep copies of what they handled.
void wipe_stack_below();

// Zeroes the vector registers, where copying and comparing routines leave the last bytes
// they moved until a signal or the dynamic linker saves the registers on the stack.
void wipe_vector_registers();

}  // namespace jx
