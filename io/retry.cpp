#include "io/retry.h"

#include <unistd.h>

namespace quarvel {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = RetryOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int WriteAllAt(int fd, const std::uint8_t* data, std::size_t count, std::int64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = RetryOnInterrupt([&] {
      return ::pwrite(fd, data + done, count - done, offset + static_cast<std::int64_t>(done));
    });
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace quarvel
