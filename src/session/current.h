// The current archive: the one archive the module works on, named by
// InitArcFile or CreateArcFile and forgotten by DoneArcFile, with what the
// host may fetch of its last listing.
#pragma once

#include "../base/pathbuf.h"
#include "../platform/platform.h"
#include "../votar.h"

// The path as the host named it; empty when no archive is current.
extern char gArchiveName[kPathSize];
// The path the file system is given: the name's absolute form, fixed when
// an operation starts (until then the name itself); empty when there is
// none.
extern char gArchivePath[kFullPathSize];
extern int gNewArchive;  // 1: to be created by the next add; else update

// Makes `path` (null or too long: none) current, with the new-archive flag.
void SetArchive(const char* path, int newArchive);
// Whether a path cannot name an archive at all: null, or too long to keep.
bool Unnameable(const char* path);

// Fixes the archive's absolute form for the operation that starts.
void FixArchivePath();

// The figures of the last listing, for GetExtraInfoArc; InitArcFile clears
// them.
extern ArchiveInfo gArchiveInfo;

// The archive a creation has just put at the archive path: a later creation
// under the same name, before the archive is named again, may replace it.
struct CreatedArchive {
  bool known;
  PfFileStamp stamp;
};
extern CreatedArchive gCreated;
