// The current archive: the one archive the module works on, named by
// InitArcFile or CreateArcFile and forgotten by DoneArcFile.
#pragma once

#include "../base/pathbuf.h"

extern char gArchivePath[kPathSize];  // empty when no archive is current
extern int gNewArchive;  // 1: to be created by the next add; else update
