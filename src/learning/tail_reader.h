// Reading the last lines of an append-only JSON Lines file without reading all of it.
//
// The file is read backwards in blocks until `limit` non-empty lines are complete, so
// the cost follows the number of lines asked for, not the file's size. A last line
// without its line feed (the tail of an interrupted write) is a line like any other; a
// line longer than `kMaxLineBytes` is returned empty-handed (its text dropped, its
// offset kept) so that one runaway line cannot make every read hold megabytes.
// Plain POSIX I/O; called on the data store's queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvane {

struct TailLines {
  struct Line {
    uint64_t offset = 0;  // byte offset of the line's first byte
    std::string text;     // without the line feed; empty for an oversized line
    bool oversized = false;
  };
  std::vector<Line> lines;  // file order, at most `limit`
  bool missing = false;     // the file does not exist
  std::optional<std::string> error;  // could not be read (the lines read so far are kept)
};

inline constexpr std::size_t kMaxLineBytes = 4u * 1024u * 1024u;

TailLines readLastLines(const std::string& path, std::size_t limit);

}  // namespace sorvane
