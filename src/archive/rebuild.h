// The rebuild frame: a new archive is written to a temporary file beside
// the old one, written through to the disk and put in its place in one
// step. Either way the archive is the complete old one or the complete new
// one; a failure leaves no temporary file.
#pragma once

#include "../base/pathbuf.h"
#include "../base/status.h"
#include "../platform/platform.h"
#include "lock.h"

struct Rebuild {
  char tempPath[kFullPathSize];  // "" when none was made
  PfFile* file;                  // the temporary file, while it is written
};

// Creates a new temporary file beside the archive at `archivePath`; kFailed
// when none can be made.
Outcome BeginRebuild(const char* archivePath, Rebuild* rb);

// Writes the temporary file through to the disk (when it replaces a file),
// closes it and puts it in place: of the archive whose lock is held, or,
// with none held, under a name that nothing has.
Outcome FinishRebuild(Rebuild* rb, ArchiveLock* lock, const char* archivePath);

// The end of a rebuild that left nothing: the locked archive is removed.
Outcome FinishEmptyRebuild(Rebuild* rb, ArchiveLock* lock, const char* archivePath);

// Closes and deletes the temporary file.
void AbandonRebuild(Rebuild* rb);

// Puts a finished temporary file in the archive's place in one step. On
// failure the old archive is untouched and the temporary file gone.
Outcome SwapArchive(const char* tempPath, const char* archivePath);
