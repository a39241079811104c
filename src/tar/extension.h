// What extension entries say about the entry after them: pax extended
// headers, read record by record, and GNU long names, both through the
// bounded record reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"
#include "records.h"
#include "sparse.h"

// A name as an extension entry gives it: up to kLongNameMax bytes are kept.
struct LongText {
  bool present;
  bool tooLong;  // there was more than was kept
  size_t len;
  char text[kLongNameMax + 1];
};

// The records of a pax extended header that the module reads.
struct PaxRecords {
  LongText path;
  LongText linkPath;    // linkpath
  LongText sparseName;  // GNU.sparse.name
  LongText value;       // the record being read, applied once it is whole
  bool badRecord;       // a record was not framed by its length, or its
                        // value was no value for its key (and was ignored)
  bool hasSize;
  bool badSize;  // a size past kMaxArchiveSize
  int64_t size;
  bool hasMtime;
  int64_t mtime;
  bool sparseSeen;  // some GNU.sparse record
  bool hasMajor, hasMinor, hasSparseSize, hasRealSize, hasMap, hasPairs;
  int64_t major, minor;
  int64_t sparseSize;  // GNU.sparse.size: the real size in 0.0 and 0.1
  int64_t realSize;    // GNU.sparse.realsize: the real size in 1.0
  int64_t mapOffset;   // where the value of GNU.sparse.map lies (0.1)
  int64_t mapLength;
  bool pairOpen;       // a GNU.sparse.offset waits for its numbytes (0.0)
  int64_t pairOffset;
  SparseCheck check;   // the regions of 0.0 and 0.1
};

// Reads the records of the pax header data at [start, start + length) of
// the source, through `r`. A record is applied once its length is found to
// end at its newline; one that is not ends the reading, and the rest is
// left. A value that is none for its key is passed over. Both are told by
// `badRecord`. Answers false when the source could not be read there.
bool ReadPaxRecords(ByteReader* r, ByteSource* source, int64_t start, int64_t length,
                    PaxRecords* out);

// Reads a GNU long name from entry data at [start, start + length), through
// `r`: up to its first NUL, kLongNameMax bytes at most.
bool ReadLongName(ByteReader* r, ByteSource* source, int64_t start, int64_t length,
                  LongText* out);
