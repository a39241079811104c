// Shared steps of the operations.
#pragma once

#include "../votar.h"

// The add pass: every item with a name, in list order, announced and (when
// it is no directory) added; items `skip` answers true for are passed over.
// False, with the status set, at the first failure.
bool AddItems(const FileMaskList* items, const char* tempPath,
              bool (*skip)(const FileMaskEntry*));

// Rebuilds the current archive with the items added.
void UpdateArchive(const FileMaskList* items);
