#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sorvane::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvane-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::filesystem::path target = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary);
  out << content;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(std::filesystem::path(path_) / name, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

LogCapture::LogCapture()
    : target_([this](std::string_view message) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message);
      }) {}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool LogCapture::contains(const std::string& fragment) const { return count(fragment) > 0; }

std::size_t LogCapture::count(const std::string& fragment) const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& line : lines_) n += line.find(fragment) != std::string::npos;
  return n;
}

}  // namespace sorvane::testing
