// The archive scanner: reads an archive through a reader and collects the
// members whose names match a mask list.
#pragma once

#include "../votar.h"
#include "links.h"
#include "reader.h"

// Scans `source` from its start with the reader into `list` (which is started
// here): every member that has a name and matches `masks` (folders among
// them, kept but not listed); with `keepAll`
// also every other entry (folders, members without a name),
// marked as not listed, so that a rebuild can carry them. Listed members
// that also match `select`, when given, are marked selected. Answers how
// the scan ended (also in the reader's outcome); the members before damage
// stay in the list.
// Every entry is noted in `index`, when given, which then tells what each
// name stands for at the end of the archive.
ScanEnd ScanArchive(TarReader* r, ByteSource* source, TarEntryList* list,
                    const FileMaskList* masks, bool keepAll,
                    const FileMaskList* select = nullptr, MemberIndex* index = nullptr);
