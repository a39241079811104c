#include "extension.h"

#include <cstddef>
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
  kKeyOther, kKeyPath, kKeyLinkPath, kKeySize, kKeyMtime, kKeySparseName, kKeyMajor, kKeyMinor,
  kKeySparseSize, kKeyRealSize, kKeyNumBlocks, kKeyOffset, kKeyNumBytes, kKeyMap,
};

static PaxKey KeyOf(const char* key) {
  static const struct {
    const char* name;
    PaxKey key;
  } kKeys[] = {
      {"path", kKeyPath},
      {"linkpath", kKeyLinkPath},
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

static bool AllDigits(const char* text, size_t len) {
  if (len == 0) return false;
  for (size_t i = 0; i < len; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// Takes a numeric record; false when its value is none for its key. A size
// is digits, a time digits after an optional "-", with an optional fraction.
// Digits past what a size can be are damage.
static bool TakeNumber(PaxKey key, const char* text, size_t len, PaxRecords* out) {
  int64_t v;
  bool isTime = key == kKeyMtime;
  if (key == kKeySize) {
    if (!AllDigits(text, len)) return false;
    out->hasSize = true;
    out->badSize = !ParseDecimal(text, len, false, false, &v) || v > kMaxArchiveSize;
    out->size = out->badSize ? 0 : v;
    return true;
  }
  if (!ParseDecimal(text, len, isTime, isTime, &v)) return false;
  switch (key) {
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
  out->path.present = out->linkPath.present = out->sparseName.present = false;
  out->badRecord = false;
  out->hasSize = out->badSize = out->hasMtime = out->sparseSeen = false;
  out->hasMajor = out->hasMinor = out->hasSparseSize = out->hasRealSize = false;
  out->hasMap = out->hasPairs = out->pairOpen = false;
  StartCheck(&out->check);
  StartReader(&r, source, start, start + length);
  char key[32];
  int64_t valueEnd;
  while (r.pos < r.end) {
    if (!NextPaxRecord(&r, key, sizeof key, &valueEnd)) {
      out->badRecord = true;
      break;
    }
    PaxKey which = KeyOf(key);
    if (strncmp(key, "GNU.sparse.", 11) == 0) out->sparseSeen = true;
    int64_t valueStart = r.pos;
    if (which == kKeyMap) {
      CheckMapText(&r, valueEnd, &out->check);
    } else if (which != kKeyOther) {
      ReadLongValue(&r, valueEnd, &out->value);
    }
    if (!EndPaxRecord(&r, valueEnd)) {
      out->badRecord = true;
      break;
    }
    const LongText& value = out->value;
    if (which == kKeyPath || which == kKeyLinkPath || which == kKeySparseName) {
      LongText* text = which == kKeyPath       ? &out->path
                       : which == kKeyLinkPath ? &out->linkPath
                                               : &out->sparseName;
      memcpy(text, &value, offsetof(LongText, text) + value.len + 1);
    } else if (which == kKeyMap) {
      out->hasMap = true;
      out->mapOffset = valueStart;
      out->mapLength = valueEnd - valueStart;
    } else if (which != kKeyOther &&
               (value.tooLong || !TakeNumber(which, value.text, value.len, out))) {
      out->badRecord = true;
    }
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
