// A bounded reader of the bytes of an extension entry or a sparse map: a
// small buffer of its own, so that nothing is ever held in proportion to
// what the archive claims, and a position that only moves forward. Pax
// records are framed here, for the extension and the sparse readers both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../base/bytes.h"

// Bytes of a source from `pos` up to `end`, a buffer at a time.
struct ByteReader {
  ByteSource* source;
  int64_t pos;     // offset of the next byte to hand out
  int64_t end;     // nothing at or past it is read
  bool failed;     // the source ended or failed before `end`
  size_t len;      // bytes in the buffer
  size_t at;       // the next of them
  unsigned char buf[4096];
};
void StartReader(ByteReader* r, ByteSource* source, int64_t start, int64_t end);
int NextByte(ByteReader* r);  // -1 at the end, or when the source fails
// Moves forward to `pos` (never back; not past the end).
void SkipTo(ByteReader* r, int64_t pos);
// A decimal number of at most 18 digits, ended by `stop` (consumed) or by
// the end of the reader (`*atEnd`). False for anything else.
bool ReadDecimal(ByteReader* r, char stop, int64_t* value, bool* atEnd);

// The next pax record of `r`: its key (cut to `keySize` - 1 bytes; a cut key
// matches nothing the module reads) and, in `*valueEnd`, where its value
// ends; the reader stands at the value's first byte. False when no record
// parses there.
bool NextPaxRecord(ByteReader* r, char* key, size_t keySize, int64_t* valueEnd);
// After the value was read or passed over: the record's newline.
bool EndPaxRecord(ByteReader* r, int64_t valueEnd);
