// Shared steps of the operations, and their bodies.
#pragma once

#include "../platform/platform.h"
#include "../tar/reader.h"
#include "../votar.h"

// Opens the current archive to read; StatusFileError when it cannot be
// opened. An operation reads its archive through this one open file from
// the scan to the last copy: a file put in its place meanwhile is never
// read.
PfFile* OpenArchiveInput();

// Sets the status a scan's end stands for: the stop's code,
// StatusOutOfMemory, StatusFileError (damage, or a read that failed before
// the end of the file), StatusNoEntries (nothing listed); otherwise the
// status stays.
void SetScanStatus(ScanEnd end, int32_t listed);

// Rebuilds the current archive with the items added.
void UpdateArchive(const FileMaskList* items);

// The bodies of InitArcFile, CreateArcFile and DoneArcFile. A null path
// names nothing, like one that cannot be named.
void NameArchive(const char* path);
void NameNewArchive(const char* path);
void ForgetArchive();

// The bodies of ExtractFileMaskListArc, CompressFileMaskListArc and
// DeleteFileMaskListArc, run once the operation has started.
void ExtractArc(const FileMaskList* masks);
void CompressArc(const FileMaskList* items);
void DeleteArc(const FileMaskList* masks);
