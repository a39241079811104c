// Walking a full scan in archive order for a rebuild. Each entry comes with
// the extension entries before it (long names, pax headers), which travel
// with it and are dropped with it; extension entries with no entry after
// them describe nothing and are left out.
#pragma once

#include "../tar/reader.h"
#include "archiveio.h"
#include "../tar/writer.h"
#include "../votar.h"

// Where a rebuild carries entries from and to.
struct Carry {
  ByteSource* in;
  TarWriter* out;
  // Told of each listed member carried over, also one written anew; may
  // set a status to stop the walk. Null: nothing to tell.
  void (*carried)(const TarEntry& entry);
};

// Decides for one entry whether it is carried over; it may set a status to
// stop the walk.
typedef bool (*KeepEntryFn)(const TarEntry& entry);
// Carries one entry over; a failure sets the status.
typedef void (*CarryEntryFn)(const Carry& c, const TarEntry& entry);

// Whether the rebuild drops an entry, as decided before the walk.
typedef bool (*RemovedFn)(const TarEntry& entry);

// Visits every entry of `list` while the status is StatusOk; answers how
// many were carried. A removed member that a kept hard link after it names
// leaves its data to the first such link, which is written in its place
// as a regular member of the link's name (the data goes on being read in
// one pass); later links to it are written anew to name that one.
// StatusOutOfMemory when the walk cannot be planned.
int64_t WalkForRebuild(TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry,
                       const Carry& c, RemovedFn removed);

// A full scan of the archive for a rebuild, into `list`: every listed
// member and every other entry. StatusFileError when the scan stopped at
// damage, at a block it could not read before the end of the file, or where
// a compressed archive's data failed, for then the rest would be lost;
// StatusNoEntries is left for the caller to judge. Members that also match
// `select`, when given, are marked selected. A compressed archive is then
// read from its start again, for the copies.
void ScanForRebuild(TarReader* r, ArchiveInput* in, TarEntryList* list,
                    const FileMaskList* select = nullptr);
