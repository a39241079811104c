// Sparse members: the map of the data regions of the file a member stands
// for, in the four forms GNU tar writes (the old GNU header with its
// extension blocks, and pax formats 0.0, 0.1 and 1.0). Maps are read where
// they lie, never held whole.
#pragma once

#include <cstdint>

#include "../base/bytes.h"
#include "entry.h"
#include "format.h"
#include "records.h"

enum SparseKind : uint8_t {
  kSparseNone,
  kSparseOldGnu,   // typeflag S: slots in the header and extension blocks
  kSparsePax00,    // GNU.sparse.offset and .numbytes records
  kSparsePax01,    // GNU.sparse.map: "offset,length,offset,length..."
  kSparsePax10,    // the map as decimal lines at the start of the data
  kSparseUnknown,  // a sparse form the module does not read
};

// The regions seen so far, and whether they make a map the module takes:
// at most kMaxSparseRegions, in ascending order, not overlapping.
struct SparseCheck {
  int64_t count;
  int64_t end;  // where the last region ends
  int64_t sum;  // bytes of data the regions take
  bool bad;
};
void StartCheck(SparseCheck* check);
void CheckRegion(SparseCheck* check, int64_t offset, int64_t length);
// The regions lie inside the real size and take no more data than stored.
bool CheckFits(const SparseCheck& check, int64_t realSize, int64_t dataSize);

// Walks a map region by region, reading from the source as it goes (each
// read moves to where the map lies, so data may be copied between two
// regions).
struct SparseCursor {
  uint8_t kind;
  bool bad;            // the map did not parse
  ByteSource* source;  // old GNU: where the extension blocks are read
  int64_t left;        // 1.0: regions still to come
  ByteReader* text;    // 0.0, 0.1, 1.0: the records or the map text
  int64_t textEnd;     // 0.0: where the current record's value ends
  // Old GNU: the block whose slots are being read.
  unsigned char block[kBlockSize];
  unsigned slot;
  unsigned slots;
  unsigned base;
  bool extended;       // another extension block follows this one
  int64_t nextBlock;   // file offset of that block
};

// Old GNU: `header` is the member's header block; its extension blocks
// follow it in the source at `headerOffset` + 512.
void StartOldGnuCursor(SparseCursor* c, ByteSource* source, const unsigned char* header,
                       int64_t headerOffset);
// The pax forms: `text` is the reader to use, over the pax header data
// (0.0), the map's value (0.1) or the member's data (1.0) in the source.
void StartTextCursor(SparseCursor* c, uint8_t kind, ByteReader* text, ByteSource* source,
                     int64_t start, int64_t end);
// The next region; false at the end of the map, and also when the map does
// not parse (then `c->bad`).
bool NextRegion(SparseCursor* c, int64_t* offset, int64_t* length);
// The cursor for a sparse member the scanner found in the source; false for
// a form the module does not read, or an old GNU header that cannot be read
// again.
bool StartSparseCursor(SparseCursor* c, ByteReader* text, ByteSource* source,
                       const TarEntry& member);

// Old GNU: where the data starts, once NextRegion has answered false.
int64_t OldGnuDataOffset(const SparseCursor& c);
