// Private folders and whole-line appends, for every file that holds what the user said
// (the data store's records, the turn metrics).
//
// Folders are created 0700 and record files 0600 whatever the process umask (the mode is
// set explicitly after creation); a folder or file of ours found with looser modes is
// tightened. An append writes one whole line or nothing: it holds an exclusive lock on
// the file for the duration (so appenders in other threads and processes never
// interleave), writes a line feed first when the file does not end in one (the tail of
// an earlier torn write then stays a line of its own, which readers skip), and after a
// short or failed write truncates the file back to its old length, so the next record is
// never glued onto half a line.
//
// Plain POSIX I/O; callable from any thread; blocks for the disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

// Creates `folder` and any missing parents, each new one 0700; tightens `folder` itself
// to 0700 when it is ours and open to others. An error description, or nothing.
std::optional<std::string> ensurePrivateFolder(const std::string& folder);

// Ensures `folder` as above and appends `line` plus "\n" to `folder/fileName` (created
// 0600). An error description, or nothing on success.
std::optional<std::string> appendLineToFile(const std::string& folder, const std::string& fileName,
                                            std::string_view line);

}  // namespace sorvane
