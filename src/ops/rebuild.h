// Walking a full scan in archive order for a rebuild. Each entry comes with
// the extension entries before it (long names, pax headers), which travel
// with it and are dropped with it; extension entries with no entry after
// them describe nothing and are left out.
#pragma once

#include "../tar/scanner.h"

// Decides for one entry whether it is carried over; it may set a status to
// stop the walk.
typedef bool (*KeepEntryFn)(const TarEntry& entry);
// Carries one entry over to the output stream.
typedef void (*CarryEntryFn)(const TarEntry& entry);

// Visits every entry of `list` while the status is StatusOk.
void WalkForRebuild(const TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry);

// A full scan for a rebuild: every listed member and every other entry.
// Fails with StatusFileError when the scan stopped at damage or at a block
// it could not read before the end of the file, for then the rest would be
// lost. StatusNoEntries is left for the caller to judge. Members that also
// match `select`, when given, are marked selected.
void ScanForRebuild(TarEntryList* list, FileMaskList* allMembers,
                    const FileMaskList* select = nullptr);
