#include "records.h"

void StartReader(ByteReader* r, ByteSource* source, int64_t start, int64_t end) {
  r->source = source;
  r->pos = start;
  r->end = end < start ? start : end;
  r->failed = false;
  r->len = 0;
  r->at = 0;
}

static bool Refill(ByteReader* r) {
  int64_t left = r->end - r->pos;
  if (left <= 0 || r->failed) return false;
  size_t want = left < static_cast<int64_t>(sizeof r->buf) ? static_cast<size_t>(left)
                                                           : sizeof r->buf;
  size_t got = SourceMoveTo(r->source, r->pos) ? SourceRead(r->source, r->buf, want) : 0;
  r->len = got;
  r->at = 0;
  // A source reads short only where it ends or fails: what came is handed
  // out, and nothing after it is read.
  if (got < want) r->failed = true;
  return got > 0;
}

int NextByte(ByteReader* r) {
  if (r->at == r->len && !Refill(r)) return -1;
  r->pos++;
  return r->buf[r->at++];
}

void SkipTo(ByteReader* r, int64_t pos) {
  if (pos > r->end) pos = r->end;
  if (pos <= r->pos) return;
  int64_t ahead = pos - r->pos;
  int64_t buffered = static_cast<int64_t>(r->len - r->at);
  if (ahead <= buffered) {
    r->at += static_cast<size_t>(ahead);
  } else {
    r->len = r->at = 0;  // the next byte is read where it lies
  }
  r->pos = pos;
}

bool ReadDecimal(ByteReader* r, char stop, int64_t* value, bool* atEnd) {
  int64_t n = 0;
  int digits = 0;
  *atEnd = false;
  for (;;) {
    int c = NextByte(r);
    if (c < 0) {
      *atEnd = !r->failed;
      break;
    }
    if (c == stop) break;
    if (c < '0' || c > '9' || ++digits > 18) return false;
    n = n * 10 + (c - '0');  // 18 digits never pass 2^63
  }
  *value = n;
  return digits > 0;
}

bool NextPaxRecord(ByteReader* r, char* key, size_t keySize, int64_t* valueEnd) {
  int64_t start = r->pos;
  int64_t length;
  bool atEnd;
  if (!ReadDecimal(r, ' ', &length, &atEnd) || atEnd) return false;
  // The record ends in its newline, inside what is left of the header.
  if (length > r->end - start || r->pos >= start + length) return false;
  *valueEnd = start + length - 1;
  size_t k = 0;
  for (;;) {
    if (r->pos >= *valueEnd) return false;
    int c = NextByte(r);
    if (c < 0) return false;
    if (c == '=') break;
    if (k + 1 < keySize) {
      key[k++] = static_cast<char>(c);
    } else {
      key[0] = '\0';  // too long for any key the module reads
      k = keySize;
    }
  }
  if (k < keySize) key[k] = '\0';
  return true;
}

bool EndPaxRecord(ByteReader* r, int64_t valueEnd) {
  if (r->pos > valueEnd) return false;
  SkipTo(r, valueEnd);
  return NextByte(r) == '\n';
}
