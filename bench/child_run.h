// A program run as a child, as a user runs it: its wall time, CPU time, peak resident set and
// exit status (the benchmarks that time a whole run of the tool, reading and writing included).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qorv::bench {

struct Run {
  double wall = -1, cpu = 0;
  long peakKiB = 0;
  int status = -1;
};

// Runs a program, standard output to a file; wall time and the child's peak resident set.
inline Run run(const std::vector<std::string>& args, const std::string& out,
               bool offscreen = false) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (offscreen) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::FILE* f = std::freopen(out.c_str(), "w", stdout)) (void)f;
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  Run r;
  int status = 0;
  struct rusage usage {};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

}  // namespace qorv::bench
