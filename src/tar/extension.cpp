#include "extension.h"

#include <cstring>

#include "../platform/platform.h"
#include "fields.h"
#include "streams.h"

void StartReader(ByteReader* r, int64_t start, int64_t end) {
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
  size_t got = PfSeek(gInput, r->pos) ? PfRead(gInput, r->buf, want) : 0;
  r->len = got;
  r->at = 0;
  if (got == 0) r->failed = true;
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

// Reads a value of at most kLongNameMax bytes into `out`; more is passed over.
static void ReadLongValue(ByteReader* r, int64_t valueEnd, LongText* out) {
  out->present = true;
  out->tooLong = false;
  out->len = 0;
  while (r->pos < valueEnd) {
    int c = NextByte(r);
    if (c < 0) break;
    if (out->len == kLongNameMax) {
      out->tooLong = true;
      break;
    }
    out->text[out->len++] = static_cast<char>(c);
  }
  out->text[out->len] = '\0';
}

// A short value: a number's text. False when it is longer than `size` - 1.
static bool ReadShortValue(ByteReader* r, int64_t valueEnd, char* text, size_t size,
                           size_t* len) {
  if (valueEnd - r->pos > static_cast<int64_t>(size) - 1) return false;
  *len = 0;
  while (r->pos < valueEnd) {
    int c = NextByte(r);
    if (c < 0) return false;
    text[(*len)++] = static_cast<char>(c);
  }
  return true;
}

// Regions of "offset,length,..." text (0.1), checked as they come.
static void CheckMapText(ByteReader* r, int64_t valueEnd, SparseCheck* check) {
  int64_t recordsEnd = r->end;
  SparseCursor c;
  StartTextCursor(&c, kSparsePax01, r, r->pos, valueEnd);
  StartCheck(check);
  int64_t offset;
  int64_t length;
  while (NextRegion(&c, &offset, &length)) CheckRegion(check, offset, length);
  if (c.bad) check->bad = true;
  r->end = recordsEnd;
}

enum PaxKey {
  kKeyOther, kKeyPath, kKeySize, kKeyMtime, kKeySparseName, kKeyMajor, kKeyMinor,
  kKeySparseSize, kKeyRealSize, kKeyNumBlocks, kKeyOffset, kKeyNumBytes, kKeyMap,
};

static PaxKey KeyOf(const char* key) {
  static const struct {
    const char* name;
    PaxKey key;
  } kKeys[] = {
      {"path", kKeyPath},
      {"size", kKeySize},
      {"mtime", kKeyMtime},
      {"GNU.sparse.name", kKeySparseName},
      {"GNU.sparse.major", kKeyMajor},
      {"GNU.sparse.minor", kKeyMinor},
      {"GNU.sparse.size", kKeySparseSize},
      {"GNU.sparse.realsize", kKeyRealSize},
      {"GNU.sparse.numblocks", kKeyNumBlocks},
      {"GNU.sparse.offset", kKeyOffset},
      {"GNU.sparse.numbytes", kKeyNumBytes},
      {"GNU.sparse.map", kKeyMap},
  };
  for (const auto& k : kKeys) {
    if (strcmp(k.name, key) == 0) return k.key;
  }
  return kKeyOther;
}

// Takes a numeric record; false when its value does not parse.
static bool TakeNumber(PaxKey key, const char* text, size_t len, PaxRecords* out) {
  int64_t v;
  bool isTime = key == kKeyMtime;
  if (!ParseDecimal(text, len, isTime || key == kKeySize, isTime, &v)) return false;
  switch (key) {
    case kKeySize:
      out->hasSize = true;
      out->size = v;
      out->badSize = v < 0 || v > kMaxArchiveSize;
      break;
    case kKeyMtime: out->hasMtime = true; out->mtime = v; break;
    case kKeyMajor: out->hasMajor = true; out->major = v; break;
    case kKeyMinor: out->hasMinor = true; out->minor = v; break;
    case kKeySparseSize: out->hasSparseSize = true; out->sparseSize = v; break;
    case kKeyRealSize: out->hasRealSize = true; out->realSize = v; break;
    case kKeyOffset:
      // 0.0 gives each region as an offset record and a numbytes record.
      if (out->pairOpen) out->check.bad = true;
      out->hasPairs = true;
      out->pairOpen = true;
      out->pairOffset = v;
      break;
    case kKeyNumBytes:
      if (!out->pairOpen) out->check.bad = true;
      out->pairOpen = false;
      CheckRegion(&out->check, out->pairOffset, v);
      break;
    default: break;
  }
  return true;
}

bool ReadPaxRecords(int64_t start, int64_t length, PaxRecords* out) {
  static ByteReader r;
  out->path.present = out->sparseName.present = false;
  out->hasSize = out->badSize = out->hasMtime = out->sparseSeen = false;
  out->hasMajor = out->hasMinor = out->hasSparseSize = out->hasRealSize = false;
  out->hasMap = out->hasPairs = out->pairOpen = false;
  StartCheck(&out->check);
  StartReader(&r, start, start + length);
  char key[32];
  int64_t valueEnd;
  while (NextPaxRecord(&r, key, sizeof key, &valueEnd)) {
    PaxKey which = KeyOf(key);
    if (strncmp(key, "GNU.sparse.", 11) == 0) out->sparseSeen = true;
    if (which == kKeyPath) {
      ReadLongValue(&r, valueEnd, &out->path);
    } else if (which == kKeySparseName) {
      ReadLongValue(&r, valueEnd, &out->sparseName);
    } else if (which == kKeyMap) {
      out->hasMap = true;
      out->mapOffset = r.pos;
      out->mapLength = valueEnd - r.pos;
      CheckMapText(&r, valueEnd, &out->check);
    } else if (which != kKeyOther) {
      char text[40];
      size_t len;
      if (!ReadShortValue(&r, valueEnd, text, sizeof text, &len) ||
          !TakeNumber(which, text, len, out)) {
        break;
      }
    }
    if (!EndPaxRecord(&r, valueEnd)) break;
  }
  if (out->pairOpen) out->check.bad = true;
  return !r.failed;
}

bool ReadLongName(int64_t start, int64_t length, LongText* out) {
  static ByteReader r;
  StartReader(&r, start, start + length);
  out->present = true;
  out->tooLong = false;
  out->len = 0;
  for (;;) {
    int c = NextByte(&r);
    if (c <= 0) break;  // the NUL, the end of the data, or a failure
    if (out->len == kLongNameMax) {
      out->tooLong = true;
      break;
    }
    out->text[out->len++] = static_cast<char>(c);
  }
  out->text[out->len] = '\0';
  return !r.failed;
}
