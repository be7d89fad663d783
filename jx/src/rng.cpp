#include "jx/rng.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>

#include "jx/byte_order.h"
#include "jx/io_error.h"

namespace jx {
namespace {

bool fill_from_dev_random(Rng::Seed& seed) {
  int fd;
  do {
    fd = ::open("/dev/random", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  std::size_t filled = 0;
  while (filled < seed.size()) {
    ssize_t n = ::read(fd, seed.data() + filled, seed.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      int code = errno;
      ::close(fd);
      errno = code;
      return false;
    }
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return true;
}

}  // namespace

Rng::Rng(const Seed& seed)
    : counter(load_big_endian_64(&seed[24])),
      x(load_big_endian_64(&seed[0])),
      y(load_big_endian_64(&seed[8])),
      z(load_big_endian_64(&seed[16])) {}

Rng::~Rng() { ::explicit_bzero(this, sizeof *this); }

bool fill_from_os(Rng::Seed& seed) {
  if (::getentropy(seed.data(), seed.size()) == 0) return true;
  return fill_from_dev_random(seed);
}

Result<Rng> Rng::from_os() {
  Seed seed{};
  if (!fill_from_os(seed)) {
    const int code = errno;
    ::explicit_bzero(seed.data(), seed.size());
    return IoError::os(code);
  }
  Rng rng(seed);
  ::explicit_bzero(seed.data(), seed.size());
  return rng;
}

}  // namespace jx
