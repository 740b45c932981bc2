// What the benchmarks share: the peak resident set of a timed part, or of a command run
// as a process of its own.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qvbench {

// Starts a new high-water mark of the resident set (Linux: "5" into clear_refs). The
// benchmarks run on the main thread, so getrusage's ru_maxrss follows the new mark.
// Where that is refused, the peak stays the one since the process started.
inline void ResetPeakRss() {
  int fd = open("/proc/self/clear_refs", O_WRONLY);
  if (fd < 0) return;
  ssize_t n = write(fd, "5", 1);
  (void)n;
  close(fd);
}

inline double PeakRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024.0;  // kilobytes on Linux
}

inline double CurrentRssBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// Measures the resident set of the timed part: the peak, and how far it rose above
// what the process held when the part began. The heap first gives back what the
// fixture freed, so that the rise is the part's own.
class CPeakRss {
 public:
  CPeakRss() {
    malloc_trim(0);
    ResetPeakRss();
    m_start = CurrentRssBytes();
  }
  void Report(benchmark::State& state) const {
    const double peak = PeakRssBytes();
    state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["rss_rise"] =
        benchmark::Counter(std::max(0.0, peak - m_start), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
  }

 private:
  double m_start;
};

// Runs a program through qv_peak_rss and returns the peak resident set of that process
// alone, in bytes; -1 when it could not run or failed.
inline double ChildPeakRss(const std::string& peakRss, const std::vector<std::string>& args) {
  std::string command = "'" + peakRss + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  double bytes = -1;
  if (std::fscanf(p, "%lf", &bytes) != 1) bytes = -1;
  return pclose(p) == 0 ? bytes : -1;
}

}  // namespace qvbench
