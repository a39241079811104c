// Adding to an existing archive in place, when the update replaces nothing:
// the new entries are written after the old ones through the locked
// archive, and become part of it with the one block write of their first
// header. The bytes are those a rebuild would write.
#pragma once

#include "../archive/lock.h"
#include "../tar/reader.h"
#include "../votar.h"
#include "items.h"

// Whether the update of the scanned, locked archive can add in place: no
// member is replaced, the entries end within the file with no zero block
// between them and no extension entry after the last, nothing but zeros
// follows them, and the first data block of the first new entry can never
// be taken for the end of the archive or for a header.
bool CanAppendInPlace(const TarEntryList* members, const ScanOutcome& scan,
                      ByteSource* archive, const FileMaskList* items,
                      const ItemFilter* filter);

// The add pass in place. Everything but the first header is written after
// the old entries and flushed to the disk; then that header goes into the
// zero block after them, and is flushed; then the file is cut after the new
// end-of-archive marker. A failure or a stop before the header is written
// cuts the file back and writes back its zeros: the archive is byte for
// byte as it was.
void AppendInPlace(const ScanOutcome& scan, const ArchiveLock& lock, const FileMaskList* items,
                   const ItemFilter* filter);
