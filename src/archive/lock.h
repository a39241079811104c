// One writer at a time: an update, a deletion or the replacement of an
// archive made earlier reads the archive through one open file that holds
// the archive's lock from before the scan until after the swap, and swaps
// only when the archive path still names that file, unchanged.
#pragma once

#include "../base/pathbuf.h"
#include "../base/status.h"
#include "../platform/platform.h"

struct ArchiveLock {
  PfFile* file;       // the archive, open to read, holding the lock; or null
  PfFileStamp stamp;  // the archive when it was opened
  // The file the lock is held on, by the path with every link resolved: a
  // change is written beside it and put in its place, so that a link to the
  // archive goes on naming the changed archive.
  char path[kFullPathSize];
};

// Opens the archive at `path` to read, holding its lock, and notes what it
// is and where it lies. kFailed, and nothing opened, when it is read-only,
// cannot be opened, or another writer holds the lock.
Outcome OpenArchiveForChange(const char* path, ArchiveLock* lock);

inline bool HoldsArchiveLock(const ArchiveLock& lock) { return lock.file != nullptr; }

// Whether `path` still names the file opened for the change, neither
// written nor replaced since.
bool ArchiveIsAsOpened(const ArchiveLock& lock, const char* path);

// Whether `path` names the file the lock is held on, as it is now (written
// through it or not).
bool ArchivePathNamesIt(const ArchiveLock& lock, const char* path);

// Closes the locked file, which lets the lock go.
void ReleaseArchive(ArchiveLock* lock);

// What a creation has just put at `path`: a later creation under the same
// name, before the archive is named again, may replace it.
bool StampCreatedArchive(const char* path, PfFileStamp* stamp);

// Opens for a change an archive that is in the way of a creation: only the
// one the last creation left (`created`, when known), unchanged; otherwise
// kFailed.
Outcome OpenCreatedArchive(const char* path, const PfFileStamp* created, ArchiveLock* lock);
