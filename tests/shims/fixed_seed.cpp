// Preloaded into a program, makes the operating system's randomness the same on every run:
// getentropy fills its buffer with the bytes 1, 2, 3, ... so that two runs draw the same
// generator seed.
#include <cerrno>
#include <cstddef>

extern "C" {

int getentropy(void* buffer, size_t size) {
  if (size > 256) {
    errno = EIO;
    return -1;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i + 1);
  return 0;
}

}  // extern "C"
