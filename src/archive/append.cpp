#include "append.h"

#include "../tar/format.h"
#include "../tar/header.h"

bool IsSafeFirstDataBlock(const unsigned char* block) {
  return !IsAllZero(block, kBlockSize) && !ReadsAsHeader(block);
}

Outcome BeginAppend(const ArchiveLock& lock, const char* path, int64_t start,
                    int64_t oldLength, Append* a) {
  a->start = start;
  a->oldLength = oldLength;
  for (unsigned char& b : a->header) b = 0;
  a->writer = nullptr;
  if (!ArchiveIsAsOpened(lock, path)) return kFailed;
  PfFile* writer = PfOpenWriterOf(lock.file);
  if (writer == nullptr || !PfSeek(writer, start) || !PfHoldFirstBlock(writer, a->header)) {
    PfClose(writer);
    return kFailed;
  }
  a->writer = writer;
  return kDone;
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
static void PutBack(const ArchiveLock& lock, int64_t start, int64_t written, int64_t oldLength) {
  PfFile* writer = PfOpenWriterOf(lock.file);
  if (writer == nullptr) return;
  if (PfSetLength(writer, oldLength)) {
    WriteZeros(writer, start, written < oldLength ? written : oldLength);
    PfSync(writer);
  }
  PfClose(writer);
}

// After everything else is on the disk: the first data block as written is
// safe, and the path still names the file written.
static Outcome MayPutHeader(const Append& a, const ArchiveLock& lock, const char* path) {
  if (StopRequested()) return kStopped;
  unsigned char block[kBlockSize];
  bool safe = IsAllZero(a.header, kBlockSize) ||
              (PfReadAt(lock.file, a.start + static_cast<int64_t>(kBlockSize), block,
                        kBlockSize) == kBlockSize &&
               IsSafeFirstDataBlock(block));
  return safe && ArchivePathNamesIt(lock, path) ? kDone : kFailed;
}

// Puts the held header in place and flushes it.
static Outcome Commit(Append* a, const ArchiveLock& lock, const char* path) {
  if (PfHoldsBytes(a->writer) || !PfSync(a->writer)) return kWriteFailed;
  Outcome may = MayPutHeader(*a, lock, path);
  if (may != kDone) return may;
  bool put = PfSeek(a->writer, a->start) &&
             PfWrite(a->writer, a->header, kBlockSize) == kBlockSize && PfSync(a->writer);
  return put ? kDone : kWriteFailed;
}

Outcome EndAppend(Append* a, bool written, const ArchiveLock& lock, const char* path) {
  int64_t end = PfPosition(a->writer);
  Outcome committed = written ? Commit(a, lock, path) : kHalted;
  // Zeros the old archive had past the new end go; the archive is new
  // whether or not they do.
  if (committed == kDone && end < a->oldLength) PfSetLength(a->writer, end);
  PfClose(a->writer);
  a->writer = nullptr;
  if (committed != kDone) PutBack(lock, a->start, end, a->oldLength);
  return committed == kHalted ? kDone : committed;
}
