// Adding to an archive in place, crash safe: the new entries are written
// after the old ones through the locked archive, everything but their first
// header; once that is on the disk, the header goes into the zero block
// that ended the archive, and is flushed. Until then every reader sees the
// old archive; a failure cuts the file back and writes back its zeros.
#pragma once

#include <cstdint>

#include "../base/status.h"
#include "../platform/platform.h"
#include "lock.h"

// A block every reader takes for the end of the archive, or for a header,
// would show a half-written append; anything else ends every reader's scan
// at the zero block before it.
bool IsSafeFirstDataBlock(const unsigned char* block);

struct Append {
  PfFile* writer;  // on the locked archive, at the end of its entries
  int64_t start;   // where the entries end: the first new header goes there
  int64_t oldLength;
  unsigned char header[512];  // the first 512 bytes written, held back
};

// Opens a writer at `start` of the locked archive, which must still be as
// it was opened, and holds back the first block written to it.
Outcome BeginAppend(const ArchiveLock& lock, const char* path, int64_t start,
                    int64_t oldLength, Append* a);

// Ends the append and closes its writer. When everything else was written
// (`written`), it is flushed and the held header put in place and flushed;
// otherwise, or when any of that fails, the archive is put back byte for
// byte as it was. Answers how the commit fared (kDone when nothing was to
// be committed).
Outcome EndAppend(Append* a, bool written, const ArchiveLock& lock, const char* path);
