// Writing a whole file so that readers see either the old content or the new, never a
// part: the bytes go to a temporary file in the same folder, are flushed to disk, and
// the temporary file is renamed over the target. A failed write leaves the target as it
// was and removes the temporary file.
//
// Plain POSIX I/O; callable from any thread (it blocks for the write, so call it from a
// queue that may wait on the disk, never from the capture thread).
#pragma once

#include <span>
#include <string>
#include <sys/types.h>

namespace sorvane {

// Empty on success, else a description of what failed ("open /x/y.tmp: Permission
// denied"). The file is created with `mode` (0600 unless said otherwise); an existing
// target takes that mode too, since the rename replaces it.
std::string writeFileAtomically(const std::string& path, std::span<const char> bytes, mode_t mode = 0600);

}  // namespace sorvane
