// What extension entries say about the entry after them: pax extended
// headers, read record by record, and GNU long names. Both are read through
// a small reader of their own, so that nothing is ever held in proportion
// to what the archive claims, and the position only moves forward.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"
#include "sparse.h"

// Bytes of the input stream from `pos` up to `end`, a buffer at a time.
struct ByteReader {
  int64_t pos;     // file offset of the next byte to hand out
  int64_t end;     // nothing at or past it is read
  bool failed;     // the file ended or failed before `end`
  size_t len;      // bytes in the buffer
  size_t at;       // the next of them
  unsigned char buf[4096];
};
void StartReader(ByteReader* r, int64_t start, int64_t end);
int NextByte(ByteReader* r);  // -1 at the end, or when the file fails
// Moves forward to `pos` (never back; not past the end).
void SkipTo(ByteReader* r, int64_t pos);
// A decimal number of at most 18 digits, ended by `stop` (consumed) or by
// the end of the reader (`*atEnd`). False for anything else.
bool ReadDecimal(ByteReader* r, char stop, int64_t* value, bool* atEnd);

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
  LongText sparseName;  // GNU.sparse.name
  bool hasSize;
  bool badSize;  // a size that is negative or past kMaxArchiveSize
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

// Reads the records of the pax header data at [start, start + length). A
// record that does not parse ends the reading; the rest is left. Answers
// false when the file could not be read there.
bool ReadPaxRecords(int64_t start, int64_t length, PaxRecords* out);

// Reads a GNU long name from entry data at [start, start + length): up to
// its first NUL, kLongNameMax bytes at most.
bool ReadLongName(int64_t start, int64_t length, LongText* out);

// The next pax record of `r`: its key (cut to `keySize` - 1 bytes; a cut key
// matches nothing the module reads) and, in `*valueEnd`, where its value
// ends; the reader stands at the value's first byte. False when no record
// parses there.
bool NextPaxRecord(ByteReader* r, char* key, size_t keySize, int64_t* valueEnd);
// After the value was read or passed over: the record's newline.
bool EndPaxRecord(ByteReader* r, int64_t valueEnd);
