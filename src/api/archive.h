// The current archive: the one archive the module works on, named by
// InitArcFile or CreateArcFile and forgotten by DoneArcFile.
#pragma once

#include "../base/pathbuf.h"

// The path as the host named it; empty when no archive is current.
extern char gArchiveName[kPathSize];
// The path the file system is given: the name's absolute form, fixed when
// an operation starts (until then the name itself); empty when there is
// none.
extern char gArchivePath[kFullPathSize];
extern int gNewArchive;  // 1: to be created by the next add; else update

// The bodies of InitArcFile, CreateArcFile and DoneArcFile. A null path
// names nothing, like one that cannot be named.
void NameArchive(const char* path);
void NameNewArchive(const char* path);
void ForgetArchive();

// Fixes the archive's absolute form for the operation that starts.
void FixArchivePath();
