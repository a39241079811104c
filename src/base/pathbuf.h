// Path buffers: the size every path of the module is kept in, a bounded
// copy into one, and the existence test.
#pragma once

#include <cstddef>

const size_t kPathSize = 261;  // 260 characters and the terminator

// Whether anything, file or directory, exists under the path. An empty path
// names nothing.
bool FileExists(const char* path);

// Bounded copy: false, with dst emptied, when src does not fit.
bool CopyPath(char* dst, size_t size, const char* src);
