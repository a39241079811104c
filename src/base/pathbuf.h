// Path buffers: the size every path of the module is kept in, a bounded
// copy into one, the existence test, and the absolute form of a path.
#pragma once

#include <cstddef>

const size_t kPathSize = 261;  // 260 characters and the terminator
// A path the file system gets: a current folder and a path below it.
const size_t kFullPathSize = 2 * kPathSize;

// Whether anything, file or directory, exists under the path. An empty path
// names nothing.
bool FileExists(const char* path);

// Bounded copy: false, with dst emptied, when src does not fit.
bool CopyPath(char* dst, size_t size, const char* src);

// Fixes the current folder as it stands now: from here on until the next
// call, FullPath resolves relative paths against it. Every operation calls
// it first, so that a callback that moves the current folder moves nothing
// the operation works on.
void FixCurrentFolder();

// The absolute form of `path` (file system paths only: what the host is
// shown keeps the form it gave), into `out` of `size` bytes. False when the
// current folder could not be told for a relative path, or it does not fit.
bool FullPath(const char* path, char* out, size_t size);
