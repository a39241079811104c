#include "scanner.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "../api/archive.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../platform/platform.h"
#include "extension.h"
#include "fields.h"
#include "format.h"
#include "header.h"
#include "sparse.h"
#include "streams.h"

ScanResult gLastScan;

// Where the next header starts; kept here so that no seek ever moves the
// read position backwards.
static int64_t gScanPos;
static int64_t gScanLength;  // of the file when the scan began; -1: unknown
static bool gAfterZeros;    // the blocks just read were all zero
static bool gSawEntry;      // an entry was returned by this scan
static bool gZerosSince;    // zero blocks came after the last entry

// What the extension entries before a header said.
struct Pending {
  bool any;           // extension entries were read
  int64_t spanStart;  // the first of them
  LongText longName;
  bool hasPax;
  int64_t paxStart;   // the pax header's data
  int64_t paxLength;
  PaxRecords pax;
};
static Pending gPending;

void ReadName(const char* rawName, char* result, size_t size) {
  size_t len = strnlen(rawName, size - 1);
  memmove(result, rawName, len);
  result[len] = '\0';
  for (size_t i = 0; i < len; i++) {
    if (result[i] == '/') result[i] = '\\';
  }
  const char* p = result;
  if (p[0] == '\\') p++;
  if (p[0] != '\0' && p[1] == ':') p += strnlen(p, 3);
  if (p[0] == '.' && p[1] == '.') p += strnlen(p, 3);
  memmove(result, p, strlen(p) + 1);
}

int64_t SpanEnd(const TarEntry& e) { return PaddedSize(e.dataEnd); }

static uint32_t AttributesOf(int32_t mode) {
  // A mode that cannot be read says nothing: a plain writable file.
  if (mode < 0) return 0;
  uint32_t attributes = 0;
  if (mode & kModeDirectory) attributes = 0x10;
  if (!(mode & kModeOwnerWrite)) attributes |= 0x01;
  return attributes;
}

static bool IsNamedType(char typeflag) {
  return typeflag == kTypeRegularOld || typeflag == kTypeRegular ||
         typeflag == kTypeCharDevice || typeflag == kTypeBlockDevice ||
         typeflag == kTypeFifo || typeflag == kTypeContiguous || typeflag == kTypeGnuSparse;
}

static int StopScan(ScanEnd end, int64_t offset) {
  gLastScan.end = end;
  gLastScan.offset = offset;
  gLastScan.trailingExtension = gLastScan.trailingExtension || gPending.any;
  return 0;
}

// ------------------------------------------------------------- names

// Valid UTF-8 (no overlong forms, no surrogates) with at least one
// character of more than one byte.
static bool IsMultibyteUtf8(const unsigned char* s, size_t len) {
  bool multibyte = false;
  for (size_t i = 0; i < len;) {
    unsigned char c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
    if (need == 0 || c > 0xF4 || len - i <= need) return false;
    unsigned char second = s[i + 1];
    unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return false;
    for (size_t k = 2; k <= need; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    multibyte = true;
    i += need + 1;
  }
  return multibyte;
}

// Names as read, before and after the read-name rule: the longest an
// extension entry gives, or a prefix, "/" and a name field.
const size_t kRawNameSize = kLongNameMax + kPrefixWidth + kNameWidth + 2;

// A stored name in the ANSI code page. Pax names are UTF-8. Other names are
// taken as UTF-8 only when they are valid UTF-8 with some character beyond
// ASCII and every character has an ANSI form; otherwise they are in the
// OEM code page, as the module has always written them. A name that has no
// ANSI form, or is longer than 255 characters, is kept with "_" and cut,
// and marked as one that cannot be written.
static void DecodeName(const char* text, bool fromPax, bool tooLong, TarEntry* e) {
  static char ansi[kRawNameSize];
  size_t len = strlen(text);
  bool lossless = true;
  bool utf8 = fromPax || IsMultibyteUtf8(reinterpret_cast<const unsigned char*>(text), len);
  size_t n = 0;
  if (utf8) {
    n = PfUtf8ToAnsi(text, len, ansi, sizeof ansi, &lossless);
    if (!fromPax && !lossless) utf8 = false;
  }
  if (!utf8) {
    lossless = true;
    PfOemToAnsi(text, ansi);
    n = len;
  }
  const size_t kNameMax = sizeof e->name - 1;
  e->unnameable = tooLong || !lossless || n > kNameMax;
  if (n > kNameMax) n = kNameMax;
  memcpy(e->name, ansi, n);
  e->name[n] = '\0';
}

static bool HasPosixMagic(const unsigned char* block) {
  return memcmp(block + kMagicOffset, kPosixMagic, sizeof kPosixMagic) == 0;
}

// The name, first to last: a pax path (or a sparse member's pax name), a
// GNU long name, the POSIX prefix joined with the name field, the name
// field (a full one has no NUL).
static void NameEntry(const unsigned char* block, bool sparsePax, TarEntry* e) {
  static char raw[kRawNameSize];
  const LongText* text = nullptr;
  bool fromPax = false;
  if (gPending.hasPax && sparsePax && gPending.pax.sparseName.present) {
    text = &gPending.pax.sparseName;
    fromPax = true;
  } else if (gPending.hasPax && gPending.pax.path.present) {
    text = &gPending.pax.path;
    fromPax = true;
  } else if (gPending.longName.present) {
    text = &gPending.longName;
  }
  if (text != nullptr) {
    memcpy(raw, text->text, text->len + 1);
  } else {
    size_t len = 0;
    if (HasPosixMagic(block)) {
      const char* prefix = reinterpret_cast<const char*>(block + kPrefixOffset);
      len = strnlen(prefix, kPrefixWidth);
      memcpy(raw, prefix, len);
      if (len > 0) raw[len++] = '/';
    }
    const char* name = reinterpret_cast<const char*>(block + kNameOffset);
    size_t nameLen = strnlen(name, kNameWidth);
    memcpy(raw + len, name, nameLen);
    raw[len + nameLen] = '\0';
  }
  ReadName(raw, raw, sizeof raw);
  DecodeName(raw, fromPax, text != nullptr && text->tooLong, e);
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
static bool ReadOldGnuMap(const unsigned char* block, TarEntry* e) {
  int64_t realSize;
  if (!ReadNumberField(kNumberWidth, block + kRealSizeOffset, &realSize) || realSize < 0 ||
      realSize > kMaxArchiveSize) {
    return false;
  }
  static SparseCursor c;
  StartOldGnuCursor(&c, block, e->headerOffset);
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
static bool ReadLineMap(TarEntry* e, int64_t realSize) {
  static ByteReader text;
  static SparseCursor c;
  StartTextCursor(&c, kSparsePax10, &text, e->dataOffset, e->dataEnd);
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
static bool ReadPaxMap(TarEntry* e) {
  const PaxRecords& pax = gPending.pax;
  e->sparse = PaxSparseKind(pax);
  switch (e->sparse) {
    case kSparsePax10:
      e->size = pax.realSize;
      return pax.realSize >= 0 && ReadLineMap(e, pax.realSize);
    case kSparsePax01:
      e->mapOffset = pax.mapOffset;
      e->mapLength = pax.mapLength;
      e->size = pax.sparseSize;
      return CheckFits(pax.check, pax.sparseSize, StoredSize(*e));
    case kSparsePax00:
      e->mapOffset = gPending.paxStart;
      e->mapLength = gPending.paxLength;
      e->size = pax.sparseSize;
      return CheckFits(pax.check, pax.sparseSize, StoredSize(*e));
    default:
      return true;
  }
}

// ------------------------------------------------------------ entries

static void ClearPending() {
  gPending.any = false;
  gPending.hasPax = false;
  gPending.longName.present = false;
}

static void BeginExtension(int64_t offset) {
  if (gPending.any) return;
  gPending.any = true;
  gPending.spanStart = offset;
}

// Fills `e` from its header block and what came before it. False when it
// is damage.
static bool FillEntry(const unsigned char* block, int64_t offset, int64_t size, TarEntry* e) {
  const PaxRecords& pax = gPending.pax;
  e->spanStart = gPending.any ? gPending.spanStart : offset;
  e->headerOffset = offset;
  e->dataOffset = offset + static_cast<int64_t>(kBlockSize);
  e->dataEnd = e->dataOffset + size;
  e->size = size;
  e->mapOffset = e->mapLength = 0;
  e->sparse = kSparseNone;
  e->typeflag = static_cast<char>(block[kTypeflagOffset]);
  e->attributes = AttributesOf(ReadOctal(kIdWidth, block + kModeOffset));
  e->hasTime = ReadNumberField(kNumberWidth, block + kMtimeOffset, &e->mtime);
  if (gPending.hasPax && pax.hasMtime) {
    e->mtime = pax.mtime;
    e->hasTime = true;
  }
  e->name[0] = '\0';
  e->unnameable = false;
  if (!IsNamedType(e->typeflag)) return true;
  bool sparsePax = gPending.hasPax && pax.sparseSeen;
  bool mapOk = true;
  if (e->typeflag == kTypeGnuSparse) {
    mapOk = ReadOldGnuMap(block, e);
  } else if (sparsePax) {
    mapOk = ReadPaxMap(e);
  }
  NameEntry(block, sparsePax, e);
  return mapOk;
}

// A block that fails here is damage right after an entry, and the end of
// the archive after zero blocks.
static int StopAtBadBlock(int64_t offset) {
  return StopScan(gAfterZeros ? kScanOutside : kScanDamaged, offset);
}

static int StopAtShortBlock(int64_t offset, size_t got) {
  // A read that stops short before the end of the file is a failure, not
  // the end of the archive.
  int64_t length = PfLength(gInput);
  if (length < 0 || length > offset + static_cast<int64_t>(got)) {
    return StopScan(kScanReadError, offset);
  }
  return StopScan(got == 0 ? kScanAtEnd : kScanShortBlock, offset);
}

int ReadTarHeader(TarEntry* entry) {
  ClearPending();
  for (;;) {
    int64_t offset = gScanPos;
    unsigned char block[kBlockSize];
    // A size may claim more than any file system holds: past the end of
    // the file there is nothing to seek to.
    if (gScanLength >= 0 && offset >= gScanLength) return StopScan(kScanAtEnd, offset);
    if (!PfSeek(gInput, offset)) return StopScan(kScanReadError, offset);
    size_t got = PfRead(gInput, block, kBlockSize);
    if (got < kBlockSize) return StopAtShortBlock(offset, got);
    if (IsAllZero(block, kBlockSize)) {
      // Extension entries with zeros after them describe nothing.
      gLastScan.trailingExtension = gLastScan.trailingExtension || gPending.any;
      ClearPending();
      gAfterZeros = true;
      gZerosSince = gSawEntry;
      gScanPos = offset + static_cast<int64_t>(kBlockSize);
      continue;
    }
    int64_t size;
    if (!HeaderSumOk(block) || !ReadNumberField(kNumberWidth, block + kSizeOffset, &size) ||
        size < 0 || size > kMaxArchiveSize) {
      return StopAtBadBlock(offset);
    }
    gAfterZeros = false;
    int64_t data = offset + static_cast<int64_t>(kBlockSize);
    char typeflag = static_cast<char>(block[kTypeflagOffset]);
    if (typeflag == kTypeGnuLongName || typeflag == kTypeGnuLongLink ||
        typeflag == kTypePaxHeader) {
      BeginExtension(offset);
      bool read = true;
      if (typeflag == kTypeGnuLongName) read = ReadLongName(data, size, &gPending.longName);
      if (typeflag == kTypePaxHeader) {
        gPending.hasPax = true;
        gPending.paxStart = data;
        gPending.paxLength = size;
        read = ReadPaxRecords(data, size, &gPending.pax);
        if (gPending.pax.badSize) return StopScan(kScanDamaged, offset);
      }
      // Data cut off by the end of the file ends the scan at the next
      // block; data that is there but cannot be read is a failure.
      if (!read && gScanLength >= 0 && data + size <= gScanLength) {
        return StopScan(kScanReadError, offset);
      }
      gScanPos = data + PaddedSize(size);
      continue;
    }
    if (gPending.hasPax && gPending.pax.hasSize) size = gPending.pax.size;
    if (!FillEntry(block, offset, size, entry)) return StopScan(kScanDamaged, offset);
    gScanPos = SpanEnd(*entry);
    gLastScan.entriesEnd = gScanPos;
    gLastScan.zeroBetween = gLastScan.zeroBetween || gZerosSince;
    gLastScan.trailingExtension = false;
    gSawEntry = true;
    gZerosSince = false;
    return 1;
  }
}

static bool AppendEntry(TarEntryList* list, const TarEntry& work) {
  size_t bytes = offsetof(TarEntry, name) + strnlen(work.name, sizeof work.name - 1) + 1;
  TarEntry* entry = static_cast<TarEntry*>(malloc(bytes));
  if (entry == nullptr) return false;
  memcpy(static_cast<void*>(entry), &work, bytes);
  entry->name[bytes - offsetof(TarEntry, name) - 1] = '\0';
  entry->next = nullptr;
  if (list->head == nullptr) {
    list->head = entry;
  } else {
    list->tail->next = entry;
  }
  list->tail = entry;
  if (entry->listed) list->count++;
  return true;
}

static void StartScan() {
  memset(&gLastScan, 0, sizeof gLastScan);
  gLastScan.end = kScanAtEnd;
  gScanPos = 0;
  gAfterZeros = false;
  gSawEntry = false;
  gZerosSince = false;
  ClearPending();
}

void ScanArchive(TarEntryList* list, const FileMaskList* masks, bool keepAll,
                 const FileMaskList* select) {
  list->count = 0;
  list->head = list->tail = nullptr;
  StartScan();
  if (!PfSeek(gInput, 0)) {
    SetStatus(StatusFileError);
    return;
  }
  gScanLength = PfLength(gInput);
  gLastScan.fileLength = gScanLength;
  for (;;) {
    TarEntry work;
    if (CheckForStop()) return;
    if (ReadTarHeader(&work) == 0) break;
    work.listed = work.selected = work.replaced = false;
    // The matching raises the name itself, and a list that takes every
    // name answers before it does.
    if (work.name[0] != '\0') {
      work.listed = MatchFileMaskList(work.name, masks);
      work.selected = work.listed && select != nullptr && MatchFileMaskList(work.name, select);
    }
    if (!work.listed && !keepAll) continue;
    if (!AppendEntry(list, work)) {
      SetStatus(StatusOutOfMemory);
      return;
    }
  }
  // A file that could not be read to its end, or that is damaged, is a
  // failure, not a short list; the members before stay in the list.
  if (ScanStoppedAtDamage()) {
    SetStatus(StatusFileError);
  } else if (list->count == 0) {
    SetStatus(StatusNoEntries);
  }
}

bool OpenArchiveInput() {
  gInput = PfOpenRead(gArchivePath);
  if (gInput != nullptr) return true;
  SetStatus(StatusFileError);
  return false;
}

void ScanArc(TarEntryList* list, const FileMaskList* masks) {
  list->count = 0;
  list->head = list->tail = nullptr;
  StartScan();
  if (!OpenArchiveInput()) return;
  ScanArchive(list, masks, false);
  CloseStream(&gInput);
}

bool ScanStoppedAtDamage() {
  return gLastScan.end == kScanDamaged || gLastScan.end == kScanReadError;
}

void FreeTarEntryList(TarEntryList* list) {
  TarEntry* entry = list->head;
  while (entry != nullptr) {
    TarEntry* next = entry->next;
    free(entry);
    entry = next;
  }
  list->count = 0;
  list->head = list->tail = nullptr;
}
