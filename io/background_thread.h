// A second thread for the work of a large run that can go on beside it:
// the writes of its files, and the key characters made ahead. While the
// thread writes one block of a file, or makes the next stretch of key
// characters, the run goes on with the block or stretch after it. Whoever
// gives a job waits for it before using what it works on, and the thread
// does the jobs in the order given, so each file gets its writes in the
// run's order.
//
// Jobs come every few tens of microseconds in a large run, and waking a
// sleeping thread costs about as much as the copy of a block: each side
// first watches for a while before it sleeps.
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quarvel {

class BackgroundThread {
 public:
  // A write (pwrite, until all is written or it fails) at an offset of a
  // regular file; or, with Call set, Call(Context).
  struct Job {
    void (*Call)(void* context) = nullptr;
    void* Context = nullptr;
    int Fd = -1;
    std::uint8_t* Data = nullptr;
    std::size_t Count = 0;
    std::int64_t Offset = 0;
    // Set by the thread: the bytes written, and the error code (0 for none).
    std::size_t Done = 0;
    int Error = 0;
    // 1 from Submit() until the thread has done the job.
    std::atomic<std::uint32_t> Pending{0};
  };

  BackgroundThread() = default;
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;
  // Finishes the jobs given and ends the thread.
  ~BackgroundThread();

  // Starts the thread; false when the system has none to give, or when the
  // process may use one processor only.
  bool Start();
  // Hands over a job that is not pending; neither its fields nor its
  // buffer are touched by the caller until Wait() returns. At most
  // kMostJobs jobs are pending at once.
  void Submit(Job& job);
  // Returns once the job is done (at once when it is not pending).
  void Wait(Job& job);

  static constexpr std::uint32_t kMostJobs = 32;

 private:
  static void* Main(void* self);
  void Serve();

  pthread_t thread_{};
  bool running_ = false;
  // The jobs in the order given: slot n % kMostJobs holds job n. Only the
  // caller writes given_ and the slots; only the thread reads them and
  // counts taken_.
  std::array<Job*, kMostJobs> queue_{};
  std::atomic<std::uint32_t> given_{0};
  std::uint32_t taken_ = 0;
  // Changes with every job given and at the stop: what the thread sleeps on.
  std::atomic<std::uint32_t> signal_{0};
  // Changes with every job done: what a waiting caller sleeps on. (Once a
  // job is done, its owner may end it at once: the thread touches it no
  // more.)
  std::atomic<std::uint32_t> done_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace quarvel
