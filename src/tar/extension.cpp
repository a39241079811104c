#include "extension.h"

#include <cstring>

#include "fields.h"

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
  StartTextCursor(&c, kSparsePax01, r, r->source, r->pos, valueEnd);
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

bool ReadPaxRecords(ByteReader* reader, ByteSource* source, int64_t start, int64_t length,
                    PaxRecords* out) {
  ByteReader& r = *reader;
  out->path.present = out->sparseName.present = false;
  out->hasSize = out->badSize = out->hasMtime = out->sparseSeen = false;
  out->hasMajor = out->hasMinor = out->hasSparseSize = out->hasRealSize = false;
  out->hasMap = out->hasPairs = out->pairOpen = false;
  StartCheck(&out->check);
  StartReader(&r, source, start, start + length);
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

bool ReadLongName(ByteReader* reader, ByteSource* source, int64_t start, int64_t length,
                  LongText* out) {
  ByteReader& r = *reader;
  StartReader(&r, source, start, start + length);
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
