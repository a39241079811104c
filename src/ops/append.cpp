#include "append.h"

#include <cstring>

#include "../base/status.h"
#include "../platform/platform.h"
#include "../tar/format.h"
#include "../tar/header.h"
#include "../tar/lock.h"
#include "../tar/streams.h"
#include "../tar/transfer.h"
#include "items.h"
#include "ops.h"

// A block every reader takes for the end of the archive, or for a header,
// would show a half-written append; anything else ends every reader's scan
// at the zero block before it.
static bool IsSafeFirstDataBlock(const unsigned char* block) {
  return !IsAllZero(block, kBlockSize) && !ReadsAsHeader(block);
}

// Whether nothing but zeros lies in the archive from `from` to its end.
static bool OnlyZerosFrom(int64_t from, int64_t end) {
  static unsigned char chunk[kTransferSize];
  if (!PfSeek(gInput, from)) return false;
  for (int64_t left = end - from; left > 0;) {
    size_t k = left < static_cast<int64_t>(sizeof chunk) ? static_cast<size_t>(left) : sizeof chunk;
    if (PfRead(gInput, chunk, k) != k || !IsAllZero(chunk, k)) return false;
    left -= static_cast<int64_t>(k);
  }
  return true;
}

// The first data block the add pass will write, as far as it can be known
// before: the data of a long-name or pax entry, or the first bytes of the
// first file. Nothing to add, or a pass that will fail before anything is
// visible, is no danger.
static bool FirstDataBlockIsSafe(const FileMaskList* items, bool (*skip)(const FileMaskEntry*)) {
  char relative[kItemSize];
  char source[kFullSourceSize];
  PfFileStatus status;
  if (!FirstItemToAdd(items, skip, relative, source, &status)) return true;
  char member[kMemberSize];
  MakeMemberName(relative, member);
  unsigned char entry[kNameEntryMax];
  unsigned char block[kBlockSize] = {};
  size_t entryLen;
  // A name that cannot be carried makes the pass fail before anything shows.
  if (!BuildNameEntry(member, entry, &entryLen)) return true;
  if (entryLen > 0) {
    memcpy(block, entry + kBlockSize, kBlockSize);
    return IsSafeFirstDataBlock(block);
  }
  // An empty file leaves the next header, or the end marker, right after
  // its own.
  if (status.size == 0) return false;
  PfFile* f = PfOpenRead(source);
  if (f == nullptr) return true;
  PfRead(f, block, kBlockSize);
  PfClose(f);
  return IsSafeFirstDataBlock(block);
}

bool CanAppendInPlace(const TarEntryList* members, const FileMaskList* items,
                      bool (*skip)(const FileMaskEntry*)) {
  for (const TarEntry* e = members->head; e != nullptr; e = e->next) {
    if (e->replaced) return false;
  }
  const ScanResult& scan = gLastScan;
  if (scan.end == kScanDamaged || scan.end == kScanReadError || scan.zeroBetween ||
      scan.trailingExtension || scan.fileLength < 0 || scan.entriesEnd > scan.fileLength) {
    return false;
  }
  return OnlyZerosFrom(scan.entriesEnd, scan.fileLength) && FirstDataBlockIsSafe(items, skip);
}

// Writes zeros over [from, to) of the writer's file.
static bool WriteZeros(PfFile* writer, int64_t from, int64_t to) {
  static const unsigned char kZeros[kBlockSize] = {};
  if (from >= to) return true;
  if (!PfSeek(writer, from)) return false;
  for (int64_t at = from; at < to; at += static_cast<int64_t>(kBlockSize)) {
    size_t k = to - at < static_cast<int64_t>(kBlockSize) ? static_cast<size_t>(to - at) : kBlockSize;
    if (PfWrite(writer, kZeros, k) != k) return false;
  }
  return true;
}

// The archive as it was: its old length, and zeros where they were. A
// writer of its own, for the one that failed keeps failing.
static void PutBack(int64_t start, int64_t written, int64_t oldLength) {
  PfFile* writer = PfOpenWriterOf(gInput);
  if (writer == nullptr) return;
  if (PfSetLength(writer, oldLength)) {
    WriteZeros(writer, start, written < oldLength ? written : oldLength);
    PfSync(writer);
  }
  PfClose(writer);
}

// After everything else is on the disk: the first data block as written is
// safe, and the path still names the file written.
static bool MayPutHeader(const unsigned char* header, int64_t start) {
  if (CheckForStop()) return false;
  unsigned char block[kBlockSize];
  bool safe = IsAllZero(header, kBlockSize) ||
              (PfReadAt(gInput, start + static_cast<int64_t>(kBlockSize), block, kBlockSize) ==
                   kBlockSize &&
               IsSafeFirstDataBlock(block));
  if (!safe || !ArchivePathNamesIt()) {
    SetStatus(StatusFileError);
    return false;
  }
  return true;
}

void AppendInPlace(const FileMaskList* items, bool (*skip)(const FileMaskEntry*)) {
  const int64_t start = gLastScan.entriesEnd;
  const int64_t oldLength = gLastScan.fileLength;
  unsigned char header[kBlockSize] = {};
  if (!ArchiveIsAsOpened()) {
    SetStatus(StatusFileError);
    return;
  }
  PfFile* writer = PfOpenWriterOf(gInput);
  if (writer == nullptr || !PfSeek(writer, start) || !PfHoldFirstBlock(writer, header)) {
    PfClose(writer);
    SetStatus(StatusFileError);
    return;
  }
  gOutput = writer;
  bool added = AddItems(items, nullptr, skip) && WriteEndMarker();
  int64_t written = PfPosition(writer);
  if (added && (PfHoldsBytes(writer) || !PfSync(writer))) SetStatus(StatusWriteError);
  bool committed = StatusIsOk() && MayPutHeader(header, start) && PfSeek(writer, start) &&
                   PfWrite(writer, header, kBlockSize) == kBlockSize && PfSync(writer);
  // Zeros the old archive had past the new end go; the archive is new
  // whether or not they do.
  if (committed && written < oldLength) PfSetLength(writer, written);
  PfClose(writer);
  gOutput = nullptr;
  if (!committed) {
    if (StatusIsOk()) SetStatus(StatusWriteError);
    PutBack(start, written, oldLength);
  }
}
