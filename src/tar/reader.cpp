#include "reader.h"

#include <cstring>

#include "fields.h"
#include "format.h"
#include "header.h"
#include "../names/chars.h"
#include "../names/text.h"

const uint32_t kAttributeDirectory = 0x10;

static uint32_t AttributesOf(int32_t mode) {
  // A mode that cannot be read says nothing: a plain writable file.
  if (mode < 0) return 0;
  uint32_t attributes = 0;
  if (mode & kModeDirectory) attributes = kAttributeDirectory;
  if (!(mode & kModeOwnerWrite)) attributes |= 0x01;
  return attributes;
}

static bool IsNamedType(char typeflag) {
  return typeflag == kTypeRegularOld || typeflag == kTypeRegular ||
         typeflag == kTypeHardLink || typeflag == kTypeSymlink || typeflag == kTypeDirectory ||
         typeflag == kTypeCharDevice || typeflag == kTypeBlockDevice ||
         typeflag == kTypeFifo || typeflag == kTypeContiguous || typeflag == kTypeGnuSparse;
}

static int StopScan(TarReader* r, ScanEnd end, int64_t offset) {
  // A source that ends inside the last entry's data was cut short.
  if (end == kScanAtEnd || end == kScanShortBlock) {
    int64_t length = SourceLength(r->source);
    if (length >= 0 && r->lastDataEnd > length) end = kScanDamaged;
  }
  r->outcome.end = end;
  r->outcome.offset = offset;
  r->outcome.trailingExtension = r->outcome.trailingExtension || r->pending.any;
  return 0;
}

// ------------------------------------------------------------- names

static bool HasPosixMagic(const unsigned char* block) {
  return memcmp(FieldIn(block, kMagic), kPosixMagic, sizeof kPosixMagic) == 0;
}

// The name, first to last: a pax path (or a sparse member's pax name), a
// GNU long name, the POSIX prefix joined with the name field, the name
// field (a full one has no NUL).
static void NameEntry(TarReader* r, const unsigned char* block, bool sparsePax, TarEntry* e) {
  const PendingEntries& pending = r->pending;
  char* raw = r->raw;
  const LongText* text = nullptr;
  bool fromPax = false;
  if (pending.hasPax && sparsePax && pending.pax.sparseName.present) {
    text = &pending.pax.sparseName;
    fromPax = true;
  } else if (pending.hasPax && pending.pax.path.present) {
    text = &pending.pax.path;
    fromPax = true;
  } else if (pending.longName.present) {
    text = &pending.longName;
  }
  if (text != nullptr) {
    memcpy(raw, text->text, text->len + 1);
  } else {
    size_t len = 0;
    if (HasPosixMagic(block)) {
      const char* prefix = reinterpret_cast<const char*>(FieldIn(block, kPrefix));
      len = strnlen(prefix, kPrefix.width);
      memcpy(raw, prefix, len);
      if (len > 0) raw[len++] = '/';
    }
    const char* name = reinterpret_cast<const char*>(FieldIn(block, kName));
    size_t nameLen = strnlen(name, kName.width);
    memcpy(raw + len, name, nameLen);
    raw[len + nameLen] = '\0';
  }
  ReadName(raw, raw, kRawNameSize);
  DecodeMemberName(raw, fromPax, text != nullptr && text->tooLong, r->decoded, e);
  // A folder is selected and made by its name without the separator.
  if (e->typeflag == kTypeDirectory) {
    CodePage cp = AnsiCodePage();
    size_t len = strlen(e->name);
    while (EndsWithChar(cp, e->name, len, "\\")) e->name[--len] = '\0';
  }
}

// A link's target, first to last: a pax linkpath, a GNU long link name,
// the linkname field. A hard link names a member, by the read-name rule; a
// symbolic link keeps its path as stored, with "\" for "/".
static void LinkEntry(TarReader* r, const unsigned char* block, TarEntry* e) {
  const PendingEntries& pending = r->pending;
  char* raw = r->raw;
  const LongText* text = nullptr;
  bool fromPax = pending.hasPax && pending.pax.linkPath.present;
  if (fromPax) {
    text = &pending.pax.linkPath;
  } else if (pending.longLink.present) {
    text = &pending.longLink;
  }
  if (text != nullptr) {
    memcpy(raw, text->text, text->len + 1);
  } else {
    const char* field = reinterpret_cast<const char*>(FieldIn(block, kLinkname));
    size_t len = strnlen(field, kLinkname.width);
    memcpy(raw, field, len);
    raw[len] = '\0';
  }
  if (e->typeflag == kTypeHardLink) {
    ReadName(raw, raw, kRawNameSize);
  } else {
    UseBackslashes(raw);
  }
  e->linkUnnameable = !DecodeStoredText(raw, fromPax, text != nullptr && text->tooLong,
                                        r->decoded, r->link, sizeof r->link);
  e->link = r->link;
}

// ------------------------------------------------------- sparse members

static uint8_t PaxSparseKind(const PaxRecords& pax) {
  if (pax.hasMajor || pax.hasMinor) {
    return pax.major == 1 && pax.minor == 0 && pax.hasRealSize ? kSparsePax10 : kSparseUnknown;
  }
  if (pax.hasMap && pax.hasSparseSize) return kSparsePax01;
  if (pax.hasPairs && pax.hasSparseSize) return kSparsePax00;
  return kSparseUnknown;
}

// Old GNU: the map's extension blocks lie between the header and the
// data. False when the map is damage.
static bool ReadOldGnuMap(TarReader* r, const unsigned char* block, TarEntry* e) {
  int64_t realSize;
  if (!ReadNumberField(Width(kRealSize), FieldIn(block, kRealSize), &realSize) || realSize < 0 ||
      realSize > kMaxArchiveSize) {
    return false;
  }
  SparseCursor& c = r->cursor;
  StartOldGnuCursor(&c, r->source, block, e->headerOffset);
  SparseCheck check;
  StartCheck(&check);
  int64_t offset;
  int64_t length;
  // A map that is damage already is read no further.
  while (!check.bad && NextRegion(&c, &offset, &length)) CheckRegion(&check, offset, length);
  int64_t stored = e->dataEnd - e->dataOffset;
  e->dataOffset = OldGnuDataOffset(c);
  e->dataEnd = e->dataOffset + stored;
  e->sparse = kSparseOldGnu;
  e->mapOffset = e->headerOffset;
  e->size = realSize;
  return !c.bad && CheckFits(check, realSize, stored);
}

// 1.0: the map is decimal text at the start of the data, padded to a block.
static bool ReadLineMap(TarReader* r, TarEntry* e, int64_t realSize) {
  ByteReader& text = r->records;
  SparseCursor& c = r->cursor;
  StartTextCursor(&c, kSparsePax10, &text, r->source, e->dataOffset, e->dataEnd);
  SparseCheck check;
  StartCheck(&check);
  int64_t offset;
  int64_t length;
  while (NextRegion(&c, &offset, &length)) CheckRegion(&check, offset, length);
  if (c.bad) return false;
  e->mapOffset = e->dataOffset;
  e->mapLength = text.pos - e->dataOffset;
  e->dataOffset += PaddedSize(e->mapLength);
  return e->dataOffset <= e->dataEnd && CheckFits(check, realSize, e->dataEnd - e->dataOffset);
}

// The pax forms. False when the map is damage; a form the module does not
// read is no damage, but its member is never written.
static bool ReadPaxMap(TarReader* r, TarEntry* e) {
  const PaxRecords& pax = r->pending.pax;
  e->sparse = PaxSparseKind(pax);
  switch (e->sparse) {
    case kSparsePax10:
      e->size = pax.realSize;
      return pax.realSize >= 0 && ReadLineMap(r, e, pax.realSize);
    case kSparsePax01:
      e->mapOffset = pax.mapOffset;
      e->mapLength = pax.mapLength;
      e->size = pax.sparseSize;
      return CheckFits(pax.check, pax.sparseSize, StoredSize(*e));
    case kSparsePax00:
      e->mapOffset = r->pending.paxStart;
      e->mapLength = r->pending.paxLength;
      e->size = pax.sparseSize;
      return CheckFits(pax.check, pax.sparseSize, StoredSize(*e));
    default:
      return true;
  }
}

// ------------------------------------------------------------ entries

static void ClearPending(PendingEntries* pending) {
  pending->any = false;
  pending->hasPax = false;
  pending->longName.present = false;
  pending->longLink.present = false;
}

static void BeginExtension(PendingEntries* pending, int64_t offset) {
  if (pending->any) return;
  pending->any = true;
  pending->spanStart = offset;
}

// Fills `e` from its header block and what came before it. False when it
// is damage.
static bool FillEntry(TarReader* r, const unsigned char* block, int64_t offset, int64_t size,
                      TarEntry* e) {
  const PendingEntries& pending = r->pending;
  const PaxRecords& pax = pending.pax;
  e->spanStart = pending.any ? pending.spanStart : offset;
  e->headerOffset = offset;
  e->dataOffset = offset + static_cast<int64_t>(kBlockSize);
  e->dataEnd = e->dataOffset + size;
  e->size = size;
  e->mapOffset = e->mapLength = 0;
  e->sparse = kSparseNone;
  e->typeflag = static_cast<char>(*FieldIn(block, kTypeflag));
  e->mode = ReadOctal(Width(kMode), FieldIn(block, kMode));
  e->attributes = AttributesOf(e->mode);
  if (e->typeflag == kTypeDirectory) e->attributes |= kAttributeDirectory;
  // The typeflag says what a member is: a regular one or a link whose mode
  // has the directory bit is a file or a link still.
  bool regular = e->typeflag == kTypeRegular || e->typeflag == kTypeRegularOld ||
                 e->typeflag == kTypeContiguous || e->typeflag == kTypeHardLink ||
                 e->typeflag == kTypeSymlink;
  if (regular) e->attributes &= ~kAttributeDirectory;
  e->hasTime = ReadNumberField(Width(kMtime), FieldIn(block, kMtime), &e->mtime);
  if (pending.hasPax && pax.hasMtime) {
    e->mtime = pax.mtime;
    e->hasTime = true;
  }
  e->name[0] = '\0';
  e->unnameable = e->linkUnnameable = false;
  e->link = "";
  if (!IsNamedType(e->typeflag)) return true;
  if (IsLinkEntry(*e)) LinkEntry(r, block, e);
  bool sparsePax = pending.hasPax && pax.sparseSeen;
  bool mapOk = true;
  if (e->typeflag == kTypeGnuSparse) {
    mapOk = ReadOldGnuMap(r, block, e);
  } else if (sparsePax) {
    mapOk = ReadPaxMap(r, e);
  }
  NameEntry(r, block, sparsePax, e);
  return mapOk;
}

// A block that fails here is damage right after an entry, and the end of
// the archive after zero blocks.
static int StopAtBadBlock(TarReader* r, int64_t offset) {
  return StopScan(r, r->afterZeros ? kScanOutside : kScanDamaged, offset);
}

static int StopAtShortBlock(TarReader* r, int64_t offset, size_t got) {
  // A read that stops short before the end of the file is a failure, not
  // the end of the archive.
  int64_t length = SourceLength(r->source);
  if (length < 0 || length > offset + static_cast<int64_t>(got)) {
    return StopScan(r, kScanReadError, offset);
  }
  return StopScan(r, got == 0 ? kScanAtEnd : kScanShortBlock, offset);
}

// An extension entry: what it says is kept for the entry after it. False
// when the scan ends here.
static bool ReadExtension(TarReader* r, char typeflag, int64_t offset, int64_t size, int* stop) {
  PendingEntries& pending = r->pending;
  int64_t data = offset + static_cast<int64_t>(kBlockSize);
  BeginExtension(&pending, offset);
  bool read = true;
  if (typeflag == kTypeGnuLongName || typeflag == kTypeGnuLongLink) {
    read = ReadLongName(&r->records, r->source, data, size,
                        typeflag == kTypeGnuLongName ? &pending.longName : &pending.longLink);
  }
  if (typeflag == kTypePaxHeader) {
    pending.hasPax = true;
    pending.paxStart = data;
    pending.paxLength = size;
    read = ReadPaxRecords(&r->records, r->source, data, size, &pending.pax);
    if (pending.pax.badRecord) r->outcome.badRecords = true;
    if (pending.pax.badSize) {
      *stop = StopScan(r, kScanDamaged, offset);
      return false;
    }
  }
  // Data cut off by the end of the source ends the scan at the next block;
  // data that is there but cannot be read is a failure.
  int64_t length = r->outcome.sourceLength;
  if (!read && length >= 0 && data + size <= length) {
    *stop = StopScan(r, kScanReadError, offset);
    return false;
  }
  r->pos = data + PaddedSize(size);
  return true;
}

int ReadTarHeader(TarReader* r, TarEntry* entry) {
  ClearPending(&r->pending);
  ScanOutcome& outcome = r->outcome;
  for (;;) {
    int64_t offset = r->pos;
    unsigned char block[kBlockSize];
    // A size may claim more than any file system holds: past the end of
    // the source there is nothing to move to.
    if (outcome.sourceLength >= 0 && offset >= outcome.sourceLength) {
      return StopScan(r, kScanAtEnd, offset);
    }
    if (!SourceMoveTo(r->source, offset)) return StopScan(r, kScanReadError, offset);
    size_t got = SourceRead(r->source, block, kBlockSize);
    if (got < kBlockSize) return StopAtShortBlock(r, offset, got);
    if (IsAllZero(block, kBlockSize)) {
      // Extension entries with zeros after them describe nothing.
      outcome.trailingExtension = outcome.trailingExtension || r->pending.any;
      ClearPending(&r->pending);
      r->afterZeros = true;
      r->zerosSince = r->sawEntry;
      r->pos = offset + static_cast<int64_t>(kBlockSize);
      continue;
    }
    int64_t size;
    if (!HeaderSumOk(block) || !ReadNumberField(Width(kSize), FieldIn(block, kSize), &size) ||
        size < 0 || size > kMaxArchiveSize) {
      return StopAtBadBlock(r, offset);
    }
    r->afterZeros = false;
    char typeflag = static_cast<char>(*FieldIn(block, kTypeflag));
    if (typeflag == kTypeGnuLongName || typeflag == kTypeGnuLongLink ||
        typeflag == kTypePaxHeader) {
      int stop = 0;
      if (!ReadExtension(r, typeflag, offset, size, &stop)) return stop;
      continue;
    }
    if (r->pending.hasPax && r->pending.pax.hasSize) size = r->pending.pax.size;
    if (!FillEntry(r, block, offset, size, entry)) return StopScan(r, kScanDamaged, offset);
    r->pos = SpanEnd(*entry);
    r->lastDataEnd = entry->dataEnd;
    outcome.entriesEnd = r->pos;
    outcome.zeroBetween = outcome.zeroBetween || r->zerosSince;
    outcome.trailingExtension = false;
    r->sawEntry = true;
    r->zerosSince = false;
    return 1;
  }
}

bool StartTarReader(TarReader* r, ByteSource* source) {
  r->source = source;
  r->pos = 0;
  r->afterZeros = false;
  r->sawEntry = false;
  r->zerosSince = false;
  r->lastDataEnd = 0;
  ClearPending(&r->pending);
  memset(&r->outcome, 0, sizeof r->outcome);
  r->outcome.end = kScanAtEnd;
  r->outcome.sourceLength = -1;
  if (!SourceMoveTo(source, 0)) {
    r->outcome.end = kScanReadError;
    return false;
  }
  r->outcome.sourceLength = SourceLength(source);
  return true;
}
