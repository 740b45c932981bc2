// qv_peak_rss PROGRAM ARGS...: runs the program, its output to /dev/null, and prints
// the peak resident set of that process in bytes (or fails with its exit status).
//
// A process of its own so that the figure is the program's alone: Linux starts a new
// process's peak at the size of the process it was forked from, and this one is small.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv_peak_rss PROGRAM [ARGS...]\n");
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 2;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
  std::printf("%ld\n", long(usage.ru_maxrss) * 1024L);  // kilobytes on Linux
  return 0;
}
