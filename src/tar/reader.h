// The archive reader: reads a source entry by entry. Extension entries (a
// GNU long name or long link name, a pax extended header) are folded into
// the entry after them, so that every caller sees one logical entry with
// its name, size and time, and beside it the bytes it takes in the archive.
// Everything a read needs is in the reader, scratch buffers included.
#pragma once

#include <cstdint>

#include "../base/bytes.h"
#include "entry.h"
#include "extension.h"
#include "membername.h"
#include "records.h"
#include "sparse.h"

// Why a scan stopped.
enum ScanEnd {
  kScanAtEnd,        // the source ended on a block boundary
  kScanShortBlock,   // fewer than 512 bytes were left
  kScanDamaged,      // right after an entry: a block that is no header, a
                     // size that is none, or a sparse map that is none; or
                     // the source ended inside the last entry's data
  kScanOutside,      // after zero blocks, a block that is no header: the
                     // archive ended at the zeros, as every reader takes it
  kScanReadError,    // the source could not be read or positioned
  kScanOutOfMemory,  // the list of entries could not grow
  kScanStopped,      // a stop was asked for
};

// How a scan ended, and what an append after the entries needs to know.
struct ScanOutcome {
  ScanEnd end;
  int64_t offset;          // where the block lies at which the scan ended
  int64_t entriesEnd;      // where the last entry's padded data ends
  int64_t sourceLength;    // of the source when the scan began; -1: unknown
  bool zeroBetween;        // a zero block lies between two entries
  bool trailingExtension;  // extension entries with no entry after them
  bool badRecords;         // a pax record was passed over: listing and
                           // extraction tell it once done
};

// Whether a scan stopped where a rebuild must not pass over: damage, or a
// read that failed before the end of the source.
inline bool StoppedAtDamage(const ScanOutcome& o) {
  return o.end == kScanDamaged || o.end == kScanReadError;
}

// What the extension entries before a header said.
struct PendingEntries {
  bool any;           // extension entries were read
  int64_t spanStart;  // the first of them
  LongText longName;
  LongText longLink;  // a GNU long link name
  bool hasPax;
  int64_t paxStart;   // the pax header's data
  int64_t paxLength;
  PaxRecords pax;
};

struct TarReader {
  ByteSource* source;
  int64_t pos;        // where the next header starts: never moves back
  bool afterZeros;    // the blocks just read were all zero
  bool sawEntry;      // an entry was returned
  bool zerosSince;    // zero blocks came after the last entry
  int64_t lastDataEnd;  // past the last data byte of the last entry
  PendingEntries pending;
  ScanOutcome outcome;
  // Scratch: extension records and maps, a sparse map's cursor, and names.
  ByteReader records;
  SparseCursor cursor;
  char raw[kRawNameSize];
  char decoded[kRawNameSize];
  char link[256];     // the last entry's link target
};

// A reader at the start of `source`. False when the source cannot be
// positioned there (the outcome says kScanReadError).
bool StartTarReader(TarReader* r, ByteSource* source);

// Reads the next entry and moves past its data. Answers 1 with `entry`
// filled, 0 at the end of the scan, with the reader's outcome telling why.
int ReadTarHeader(TarReader* r, TarEntry* entry);
