// The current archive: the one archive the module works on, named by
// InitArcFile or CreateArcFile and forgotten by DoneArcFile.
#pragma once

#include <cstddef>

const size_t kPathSize = 261;  // 260 characters and the terminator

extern char gArchivePath[kPathSize];  // empty when no archive is current
extern int gNewArchive;  // 1: to be created by the next add; else update

// Whether anything, file or directory, exists under the path.
bool FileExists(const char* path);

// Bounded copy: false, with dst emptied, when src does not fit.
bool CopyPath(char* dst, size_t size, const char* src);
