// Shared steps of the operations.
#pragma once

#include "../platform/platform.h"
#include "../votar.h"

// The add pass: every item with a name, in list order, announced and (when
// it is no directory) added; items `skip` answers true for are passed over.
// False, with the status set, at the first failure.
bool AddItems(const FileMaskList* items, const char* tempPath,
              bool (*skip)(const FileMaskEntry*));

// The first item the add pass would add, and its relative name, the full
// path of its file (kFullSourceSize bytes) and its status; false when the
// pass adds nothing or fails first. It calls back nothing.
bool FirstItemToAdd(const FileMaskList* items, bool (*skip)(const FileMaskEntry*),
                    char* relative, char* full, PfFileStatus* status);

// Rebuilds the current archive with the items added.
void UpdateArchive(const FileMaskList* items);

// The bodies of ExtractFileMaskListArc, CompressFileMaskListArc and
// DeleteFileMaskListArc, run once the operation has started.
void ExtractArc(const FileMaskList* masks);
void CompressArc(const FileMaskList* items);
void DeleteArc(const FileMaskList* masks);
