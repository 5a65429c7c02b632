// A system call that a signal handler interrupted before it did anything is
// simply made again: the one place where the program retries.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarvel {

// Calls `call` until it succeeds or fails for a reason other than EINTR;
// returns its last result, with errno as the call left it.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// Writes all of `bytes` to a file descriptor, unbuffered, going on after
// partial writes; false, with errno set, when a write fails.
bool WriteAll(int fd, std::string_view bytes);
// The same at a file offset, leaving the descriptor's own position alone;
// returns 0 or the error code.
int WriteAllAt(int fd, const std::uint8_t* data, std::size_t count, std::int64_t offset);

}  // namespace quarvel
