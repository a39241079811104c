// One writer at a time: an update, a deletion or the replacement of an
// archive made earlier reads the archive through one open file that holds
// the archive's lock from before the scan until after the swap, and swaps
// only when the archive path still names that file, unchanged.
#pragma once

// Opens the current archive as the input stream, holding its lock, and
// notes what it is. StatusFileError, and nothing opened, when it is
// read-only, cannot be opened, or another writer holds the lock.
bool OpenArchiveForChange();

// Whether the input stream holds the archive's lock.
bool HoldsArchiveLock();

// Whether the archive path still names the file opened for the change,
// neither written nor replaced since.
bool ArchiveIsAsOpened();

// Whether the archive path names the file the input stream reads, as it is
// now (written through it or not).
bool ArchivePathNamesIt();

// Closes the input stream, which lets the lock go.
void ReleaseArchive();

// The archive a creation has just put at the archive path: a later creation
// under the same name, before the archive is named again, may replace it.
void RememberCreatedArchive();

// Opens for a change an archive that is in the way of a creation: only the
// one the last creation left, unchanged; otherwise StatusFileError.
bool OpenCreatedArchive();
