// Running a piece of a test in a forked child process: for what must not touch the test
// process itself (a lowered file-size limit, a process killed in the middle of a write).
// Fork only from a test that has started no threads of its own.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace sorvane::testing {

// Runs `body` in a child and returns its exit status (body's return value), or -1 when
// the child did not exit normally.
inline int runInChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int status = 1;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts `body` in a child and returns its process id at once; the child exits with
// body's return value.
inline pid_t startChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int status = 1;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  return pid;
}

}  // namespace sorvane::testing
