#include "sparse.h"

#include <cstring>

#include "fields.h"

void StartCheck(SparseCheck* check) {
  check->count = 0;
  check->end = 0;
  check->sum = 0;
  check->bad = false;
}

void CheckRegion(SparseCheck* check, int64_t offset, int64_t length) {
  if (check->bad) return;
  // Ascending and apart: a region may start where the last one ended.
  if (++check->count > kMaxSparseRegions || offset < check->end || length < 0 ||
      offset > kMaxArchiveSize || length > kMaxArchiveSize - offset) {
    check->bad = true;
    return;
  }
  check->end = offset + length;
  check->sum += length;  // below 2^62 regions times 2^62: never wraps
  if (check->sum > kMaxArchiveSize) check->bad = true;
}

bool CheckFits(const SparseCheck& check, int64_t realSize, int64_t dataSize) {
  return !check.bad && check.end <= realSize && check.sum <= dataSize;
}

void StartOldGnuCursor(SparseCursor* c, ByteSource* source, const unsigned char* header,
                       int64_t headerOffset) {
  c->kind = kSparseOldGnu;
  c->bad = false;
  c->source = source;
  memcpy(c->block, header, kBlockSize);
  c->slot = 0;
  c->slots = kSparseSlots.width / kSparseSlotWidth;
  c->base = kSparseSlots.offset;
  c->extended = *FieldIn(header, kIsExtended) != 0;
  c->nextBlock = headerOffset + static_cast<int64_t>(kBlockSize);
}

void StartTextCursor(SparseCursor* c, uint8_t kind, ByteReader* text, ByteSource* source,
                     int64_t start, int64_t end) {
  c->kind = kind;
  c->bad = false;
  c->source = source;
  c->text = text;
  c->left = -1;
  StartReader(text, source, start, end);
}

// The next slot of the old GNU header or its extension blocks. An empty slot
// ends the slots of its block; the blocks go on while their flag says so.
static bool NextOldGnuRegion(SparseCursor* c, int64_t* offset, int64_t* length) {
  for (;;) {
    if (c->slot < c->slots) {
      const unsigned char* field = c->block + c->base + c->slot * kSparseSlotWidth;
      c->slot++;
      if (field[0] == 0) {
        c->slot = c->slots;
        continue;
      }
      const int kNumber = static_cast<int>(kSparseSlotWidth / 2);
      if (!ReadNumberField(kNumber, field, offset) ||
          !ReadNumberField(kNumber, field + kNumber, length)) {
        c->bad = true;
        return false;
      }
      return true;
    }
    if (!c->extended) return false;
    if (!SourceMoveTo(c->source, c->nextBlock) ||
        SourceRead(c->source, c->block, kBlockSize) != kBlockSize) {
      c->bad = true;
      return false;
    }
    c->nextBlock += static_cast<int64_t>(kBlockSize);
    c->slot = 0;
    c->slots = kExtensionSlots.width / kSparseSlotWidth;
    c->base = kExtensionSlots.offset;
    c->extended = *FieldIn(c->block, kExtensionFlag) != 0;
  }
}

// 0.0: the values of the offset and numbytes records, in turn.
static bool NextRecordRegion(SparseCursor* c, int64_t* offset, int64_t* length) {
  int64_t* want = offset;
  char key[32];
  int64_t valueEnd;
  while (NextPaxRecord(c->text, key, sizeof key, &valueEnd)) {
    bool isOffset = strcmp(key, "GNU.sparse.offset") == 0;
    bool isLength = strcmp(key, "GNU.sparse.numbytes") == 0;
    if (isOffset || isLength) {
      bool atEnd;
      if (isOffset != (want == offset) || !ReadDecimal(c->text, '\n', want, &atEnd) ||
          c->text->pos != valueEnd + 1) {
        c->bad = true;
        return false;
      }
      if (want == length) return true;
      want = length;
      continue;
    }
    if (!EndPaxRecord(c->text, valueEnd)) break;
  }
  if (want == length) c->bad = true;
  return false;
}

// 0.1: "offset,length,offset,length", to the end of the value.
static bool NextMapRegion(SparseCursor* c, int64_t* offset, int64_t* length) {
  bool atEnd;
  if (c->text->pos >= c->text->end) return false;
  if (!ReadDecimal(c->text, ',', offset, &atEnd) || atEnd ||
      !ReadDecimal(c->text, ',', length, &atEnd)) {
    c->bad = true;
    return false;
  }
  return true;
}

// 1.0: the count of regions, then each offset and length, a line each.
static bool NextLineRegion(SparseCursor* c, int64_t* offset, int64_t* length) {
  bool atEnd;
  if (c->left < 0 && (!ReadDecimal(c->text, '\n', &c->left, &atEnd) || atEnd ||
                      c->left > kMaxSparseRegions)) {
    c->bad = true;
    return false;
  }
  if (c->left == 0) return false;
  if (!ReadDecimal(c->text, '\n', offset, &atEnd) || atEnd ||
      !ReadDecimal(c->text, '\n', length, &atEnd) || atEnd) {
    c->bad = true;
    return false;
  }
  c->left--;
  return true;
}

bool NextRegion(SparseCursor* c, int64_t* offset, int64_t* length) {
  if (c->bad) return false;
  switch (c->kind) {
    case kSparseOldGnu: return NextOldGnuRegion(c, offset, length);
    case kSparsePax00: return NextRecordRegion(c, offset, length);
    case kSparsePax01: return NextMapRegion(c, offset, length);
    case kSparsePax10: return NextLineRegion(c, offset, length);
    default: c->bad = true; return false;
  }
}

int64_t OldGnuDataOffset(const SparseCursor& c) { return c.nextBlock; }

bool StartSparseCursor(SparseCursor* c, ByteReader* text, ByteSource* source,
                       const TarEntry& member) {
  if (member.sparse == kSparseOldGnu) {
    unsigned char header[kBlockSize];
    if (!SourceMoveTo(source, member.headerOffset) ||
        SourceRead(source, header, kBlockSize) != kBlockSize) {
      return false;
    }
    StartOldGnuCursor(c, source, header, member.headerOffset);
    return true;
  }
  if (member.sparse != kSparsePax00 && member.sparse != kSparsePax01 &&
      member.sparse != kSparsePax10) {
    return false;
  }
  StartTextCursor(c, member.sparse, text, source, member.mapOffset,
                  member.mapOffset + member.mapLength);
  return true;
}
