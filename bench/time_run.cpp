// Times a command as a whole process, for throughput.sh:
//
//   quarvel_bench_time RUNS COMMAND [ARGUMENT...]
//
// Runs the command RUNS times, one after the other, with standard input from
// /dev/null and standard output to /dev/null, and prints the fastest wall
// time in seconds. Exit status 1 when a run does not end with status 0.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RUNS COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  int runs = std::atoi(argv[1]);
  if (runs < 1) runs = 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  double best = -1;
  for (int run = 0; run < runs; ++run) {
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    if (posix_spawnp(&pid, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
      std::perror(argv[2]);
      return 1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
      std::perror("waitpid");
      return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s: exit status %d\n", argv[2],
                   WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      return 1;
    }
    double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                     static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    if (best < 0 || seconds < best) best = seconds;
  }
  std::printf("%.6f\n", best);
  return 0;
}
