#include "io/background_thread.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "io/retry.h"

namespace quarvel {

namespace {

// The thread only moves bytes: a small stack is plenty (with room for a
// build with sanitizers).
constexpr std::size_t kStackBytes = 256 * 1024;

// How long each side watches before it sleeps: the thread for the next job
// about as long as the run takes to fill half a block, the run for its job
// longer than a job takes. Watching longer wins nothing, and costs the run
// time on a processor shared with other work.
constexpr std::chrono::microseconds kWatchThread{50};
constexpr std::chrono::microseconds kWatchJob{100};

inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Watches `done()` for `span`; true as soon as it holds. It gives way to
// any other thread that waits for its processor now and then: on a
// processor shared with the other side, that lets the other side run.
template <typename Done>
bool WatchFor(std::chrono::microseconds span, Done done) {
  auto until = std::chrono::steady_clock::now() + span;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (done()) return true;
      Relax();
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    ::sched_yield();
  }
}

void Perform(BackgroundThread::Job& job) {
  job.Done = 0;
  job.Error = 0;
  if (job.Call != nullptr) {
    job.Call(job.Context);
    return;
  }
  while (job.Done < job.Count) {
    ssize_t n = RetryOnInterrupt([&] {
      return ::pwrite(job.Fd, job.Data + job.Done, job.Count - job.Done,
                      job.Offset + static_cast<std::int64_t>(job.Done));
    });
    if (n < 0) {
      job.Error = errno;
      return;
    }
    job.Done += static_cast<std::size_t>(n);
  }
}

}  // namespace

BackgroundThread::~BackgroundThread() {
  if (!running_) return;
  stopping_.store(true, std::memory_order_release);
  signal_.fetch_add(1, std::memory_order_release);
  signal_.notify_one();
  ::pthread_join(thread_, nullptr);
}

bool BackgroundThread::Start() {
  if (running_) return true;
  // On one processor the thread would only take turns with the run.
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2)
    return false;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  ::pthread_attr_setstacksize(&attributes, kStackBytes);
  running_ = ::pthread_create(&thread_, &attributes, &BackgroundThread::Main, this) == 0;
  ::pthread_attr_destroy(&attributes);
  return running_;
}

void* BackgroundThread::Main(void* self) {
  static_cast<BackgroundThread*>(self)->Serve();
  return nullptr;
}

void BackgroundThread::Serve() {
  for (;;) {
    std::uint32_t seen = signal_.load(std::memory_order_acquire);
    if (given_.load(std::memory_order_acquire) == taken_) {
      if (stopping_.load(std::memory_order_acquire)) return;
      if (!WatchFor(kWatchThread,
                    [&] { return signal_.load(std::memory_order_acquire) != seen; })) {
        signal_.wait(seen, std::memory_order_acquire);
      }
      continue;
    }
    Job& job = *queue_[taken_ % kMostJobs];
    Perform(job);
    ++taken_;
    job.Pending.store(0, std::memory_order_release);
    done_.fetch_add(1, std::memory_order_release);
    done_.notify_all();
  }
}

void BackgroundThread::Submit(Job& job) {
  job.Pending.store(1, std::memory_order_relaxed);
  std::uint32_t given = given_.load(std::memory_order_relaxed);
  queue_[given % kMostJobs] = &job;
  given_.store(given + 1, std::memory_order_release);
  signal_.fetch_add(1, std::memory_order_release);
  signal_.notify_one();
}

void BackgroundThread::Wait(Job& job) {
  auto done = [&] { return job.Pending.load(std::memory_order_acquire) == 0; };
  if (done() || WatchFor(kWatchJob, done)) return;
  for (;;) {
    std::uint32_t seen = done_.load(std::memory_order_acquire);
    if (done()) return;
    done_.wait(seen, std::memory_order_acquire);
  }
}

}  // namespace quarvel
