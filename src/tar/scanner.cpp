#include "scanner.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "../api/archive.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../platform/platform.h"
#include "format.h"
#include "header.h"
#include "streams.h"

ScanResult gLastScan;

// Where the next header starts; kept here so that no seek ever moves the
// read position backwards.
static int64_t gScanPos;
static bool gZeroBlock;  // the last header read was 512 zero bytes

void ReadName(const char* rawName, char* result) {
  char work[256];
  size_t len = strnlen(rawName, sizeof work - 1);
  memcpy(work, rawName, len);
  work[len] = '\0';
  for (size_t i = 0; i < len; i++) {
    if (work[i] == '/') work[i] = '\\';
  }
  const char* p = work;
  if (p[0] == '\\') p++;
  if (p[0] != '\0' && p[1] == ':') p += strnlen(p, 3);
  if (p[0] == '.' && p[1] == '.') p += strnlen(p, 3);
  size_t rest = strlen(p);
  memmove(result, p, rest + 1);
}

static uint32_t AttributesOf(int32_t mode) {
  uint32_t attributes = 0;
  if (mode & kModeDirectory) attributes = 0x10;
  if (!(mode & kModeOwnerWrite)) attributes |= 0x01;
  return attributes;
}

static bool IsNamedType(char typeflag) {
  return typeflag == kTypeRegularOld || typeflag == kTypeRegular ||
         typeflag == kTypeCharDevice || typeflag == kTypeBlockDevice ||
         typeflag == kTypeFifo || typeflag == kTypeContiguous;
}

static bool IsZeroBlock(const unsigned char* block) {
  for (size_t i = 0; i < kBlockSize; i++) {
    if (block[i] != 0) return false;
  }
  return true;
}

static int StopScan(ScanEnd end, int64_t offset) {
  gLastScan.end = end;
  gLastScan.offset = offset;
  return 0;
}

int ReadTarHeader(TarEntry* entry, char* name) {
  int64_t offset = gScanPos;
  unsigned char block[kBlockSize];
  size_t got = PfRead(gInput, block, kBlockSize);
  if (got < kBlockSize) {
    // A read that stops short before the end of the file is a failure, not
    // the end of the archive.
    int64_t length = PfLength(gInput);
    if (length < 0 || length > offset + static_cast<int64_t>(got)) {
      return StopScan(kScanReadError, offset);
    }
    return StopScan(got == 0 ? kScanAtEnd : kScanShortBlock, offset);
  }
  gZeroBlock = IsZeroBlock(block);
  if (!HeaderSumOk(block)) return StopScan(kScanBadHeader, offset);
  // A size that is not a number from 0 to 2^31 - 1 gives no safe place to
  // go on from. It is checked before it wraps: 2^32 + 100 is no size of 100.
  int64_t size = ReadOctalWide(kNumberWidth, block + kSizeOffset);
  if (size < 0 || size > INT32_MAX) return StopScan(kScanBadHeader, offset);
  block[kReadNameMax] = '\0';
  entry->headerOffset = offset;
  entry->size = static_cast<int32_t>(size);
  entry->mtime = ReadOctal(kNumberWidth, block + kMtimeOffset);
  entry->attributes = AttributesOf(ReadOctal(kIdWidth, block + kModeOffset));
  entry->typeflag = static_cast<char>(block[kTypeflagOffset]);
  entry->name[0] = '\0';
  name[0] = '\0';
  if (IsNamedType(entry->typeflag)) {
    ReadName(reinterpret_cast<const char*>(block + kNameOffset), entry->name);
    memcpy(name, entry->name, strlen(entry->name) + 1);
  }
  gScanPos = offset + static_cast<int64_t>(kBlockSize) + PaddedSize(entry->size);
  if (!PfSeek(gInput, gScanPos)) return StopScan(kScanReadError, gScanPos);
  return 1;
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

void ScanArchive(TarEntryList* list, const FileMaskList* masks, bool keepAll,
                 const FileMaskList* select) {
  list->count = 0;
  list->head = list->tail = nullptr;
  gLastScan.end = kScanAtEnd;
  gLastScan.offset = 0;
  gScanPos = 0;
  if (!PfSeek(gInput, 0)) {
    SetStatus(StatusFileError);
    return;
  }
  for (;;) {
    TarEntry work = {};
    char name[256] = {};
    if (CheckForStop()) return;
    if (ReadTarHeader(&work, name) == 0) break;
    if (name[0] != '\0') {
      PfOemToAnsi(work.name, work.name);
      char upper[256];
      UpcaseName(work.name, upper, sizeof upper);
      work.listed = MatchFileMaskList(upper, masks);
      work.selected = work.listed && select != nullptr && MatchFileMaskList(upper, select);
    }
    if (!work.listed && (!keepAll || gZeroBlock)) continue;
    if (!AppendEntry(list, work)) {
      SetStatus(StatusOutOfMemory);
      return;
    }
  }
  // A file that could not be read to its end is a failure, not a short list.
  if (gLastScan.end == kScanReadError) {
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
  if (!OpenArchiveInput()) return;
  ScanArchive(list, masks, false);
  CloseStream(&gInput);
}

bool ScanStoppedAtDamage() {
  return gLastScan.end == kScanBadHeader || gLastScan.end == kScanReadError;
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
