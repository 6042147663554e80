// Small helpers shared by the test suites: a temporary folder that removes itself and a
// capture of application log lines.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"

namespace sorvane::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

// Collects the messages logged while it is alive (without timestamps).
class LogCapture {
 public:
  LogCapture();
  std::vector<std::string> lines() const;
  bool contains(const std::string& fragment) const;
  std::size_t count(const std::string& fragment) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  ScopedLogTarget target_;
};

}  // namespace sorvane::testing
