#include "transfer.h"

#include <cstring>

#include "../api/archive.h"
#include "../api/callbacks.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../platform/platform.h"
#include "extension.h"
#include "format.h"
#include "lock.h"
#include "scanner.h"
#include "sparse.h"
#include "streams.h"

static const unsigned char kZeros[2 * kBlockSize] = {};

// Bytes of zero padding after `size` bytes of data.
static size_t PaddingOf(int64_t size) {
  int64_t rest = size % static_cast<int64_t>(kBlockSize);
  return rest == 0 ? 0 : kBlockSize - static_cast<size_t>(rest);
}

// The next chunk of a copy with `left` bytes to go.
static size_t ChunkOf(int64_t left, size_t chunk) {
  return left < static_cast<int64_t>(chunk) ? static_cast<size_t>(left) : chunk;
}

// Copies n bytes from the input stream at its position to the output
// stream in chunks, `*done` counting the bytes of the whole transfer.
static void CopyChunksOut(int64_t n, int64_t* done) {
  int64_t left = n;
  while (left > 0 && !CheckForStop()) {
    size_t k = ChunkOf(left, kTransferSize);
    bool inputEnded;
    size_t written = PfCopy(gInput, gOutput, k, left - static_cast<int64_t>(k), &inputEnded);
    if (written != k && inputEnded) {
      SetStatus(StatusFileError);
      return;
    }
    if (written != k) SetStatus(StatusWriteError);
    left -= static_cast<int64_t>(k);
    *done += static_cast<int64_t>(k);
    ReportProgress(*done);
    if (!StatusIsOk()) return;
  }
}

void CopyOut(int64_t n) {
  SetStatus(StatusOk);
  StartProgress(n);
  if (n < 0) {
    SetStatus(StatusFileError);
    return;
  }
  int64_t done = 0;
  CopyChunksOut(n, &done);
}

void CopySparseOut(const TarEntry& member) {
  SetStatus(StatusOk);
  StartProgress(StoredSize(member));
  static ByteReader text;
  static SparseCursor c;
  if (!StartSparseCursor(&c, &text, member)) {
    SetStatus(StatusFileError);
    return;
  }
  int64_t done = 0;
  int64_t data = member.dataOffset;
  int64_t offset;
  int64_t length;
  while (StatusIsOk() && !CheckForStop() && NextRegion(&c, &offset, &length)) {
    if (offset < 0 || length < 0 || offset > member.size || length > member.size - offset ||
        length > member.dataEnd - data) {
      SetStatus(StatusFileError);
    } else if (!PfSeek(gOutput, offset)) {
      SetStatus(StatusWriteError);
    } else if (!PfSeek(gInput, data)) {
      SetStatus(StatusFileError);
    } else {
      CopyChunksOut(length, &done);
      data += length;
    }
  }
  if (StatusIsOk() && c.bad) SetStatus(StatusFileError);
  // A hole at the end is made by the length alone.
  if (StatusIsOk() && !PfSetLength(gOutput, member.size)) SetStatus(StatusWriteError);
}

void CopyIn(int64_t n) {
  SetStatus(StatusOk);
  StartProgress(n);
  if (n <= 0) return;
  int64_t done = 0;
  while (done < n) {
    if (CheckForStop()) return;
    size_t k = ChunkOf(n - done, kTransferSize);
    bool inputEnded;
    size_t written = PfCopy(gSource, gOutput, k, n - done - static_cast<int64_t>(k), &inputEnded);
    if (written != k && inputEnded) {
      SetStatus(StatusFileError);
      return;
    }
    done += static_cast<int64_t>(k);
    ReportProgress(done);
    if (written != k) SetStatus(StatusWriteError);
    if (!StatusIsOk()) return;
  }
  size_t pad = PaddingOf(n);
  if (pad > 0 && PfWrite(gOutput, kZeros, pad) != pad) SetStatus(StatusWriteError);
}

// Copies `length` bytes from the input stream at `offset`; sets
// StatusFileError on a short read (or a failed seek) and StatusWriteError on
// a short write. A stop request is looked for before every chunk, so that a
// carry-over of gigabytes stops at once.
static void CopyRange(int64_t offset, int64_t length) {
  if (!PfSeek(gInput, offset)) {
    SetStatus(StatusFileError);
    return;
  }
  while (length > 0 && !CheckForStop()) {
    size_t k = ChunkOf(length, kTransferSize);
    bool inputEnded;
    if (PfCopy(gInput, gOutput, k, length - static_cast<int64_t>(k), &inputEnded) != k) {
      SetStatus(inputEnded ? StatusFileError : StatusWriteError);
      return;
    }
    length -= static_cast<int64_t>(k);
  }
}

void CopyRaw(int64_t offset, int64_t length) { CopyRange(offset, PaddedSize(length)); }

void CopyMember(int64_t offset, int64_t length) {
  if (length < 0) {
    SetStatus(StatusFileError);
    return;
  }
  CopyRange(offset, length);
  if (!StatusIsOk()) return;
  size_t pad = PaddingOf(length);
  if (pad > 0 && PfWrite(gOutput, kZeros, pad) != pad) SetStatus(StatusWriteError);
}

bool WriteEndMarker() {
  if (PfWrite(gOutput, kZeros, sizeof kZeros) == sizeof kZeros) return true;
  SetStatus(StatusWriteError);
  return false;
}

// The first number comes from the clock in seconds; when its name is taken
// the generator goes on from there, so that the search does not wait for
// the clock to move.
static int DrawNumber(uint32_t* state) {
  *state = *state * 214013u + 2531011u;
  return static_cast<int>((*state >> 16) & 0x7FFF);
}

// Enough to find a free name among thousands of taken ones, few enough that
// a folder where every name is taken is given up in a moment.
static const int kTempNameTries = 4096;

// How much of a path is its folder, drive included: up to its last
// separator, or else its drive's colon. The folder is taken whole, however
// long: a part of it would name another folder.
static size_t FolderLength(const char* path) {
  size_t folder = path[0] != '\0' && path[1] == ':' ? 2 : 0;
  for (size_t i = 0; path[i] != '\0'; i++) {
    if (PfIsLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0') {
      i++;
    } else if (path[i] == '\\' || path[i] == '/') {
      folder = i + 1;
    }
  }
  return folder;
}

bool MakeTempName(const char* archivePath, char* result, size_t size) {
  size_t folderLen = FolderLength(archivePath);
  const size_t kNumberAndSuffix = 5 + 4;  // up to 32767, then ".$SC"
  if (folderLen + kNumberAndSuffix + 1 > size) return false;
  memcpy(result, archivePath, folderLen);
  char* tail = result + folderLen;
  uint32_t state = static_cast<uint32_t>(PfNow());
  for (int attempt = 0; attempt < kTempNameTries; attempt++) {
    int number = DrawNumber(&state);
    char digits[6];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number > 0);
    for (int i = 0; i < n; i++) tail[i] = digits[n - 1 - i];
    memcpy(tail + n, ".$SC", 5);
    if (!FileExists(result)) return true;
  }
  result[0] = '\0';
  return false;
}

void RemoveLeftover(const char* path) {
  if (!PfRemove(path)) PfRemove(path);
}

void SwapArchive(const char* tempPath) {
  if (!PfReplace(tempPath, gArchivePath)) {
    SetStatus(StatusFileError);
    RemoveLeftover(tempPath);
  }
}

bool BeginRebuild(char* tempPath) {
  if (gArchivePath[0] == '\0') {
    SetStatus(StatusFileError);
    return false;
  }
  // A name taken since it was chosen makes another be chosen; a folder where
  // names keep being taken gives up after a while.
  for (int attempt = 0; attempt < 100; attempt++) {
    if (!MakeTempName(gArchivePath, tempPath, kFullPathSize)) break;
    // Created exclusively: a file that appeared since the name was chosen is
    // never truncated; another name is chosen instead.
    gOutput = PfCreateNew(tempPath);
    if (gOutput != nullptr) return true;
    if (!FileExists(tempPath)) break;
  }
  tempPath[0] = '\0';
  SetStatus(StatusFileError);
  return false;
}

// Whether the finished temporary file may now take the archive's place: no
// stop was asked for, and a locked archive is still the file that was read,
// as it was: one put in its place or written in place meanwhile by a writer
// that ignores the lock would otherwise lose that writer's change.
static bool MayTakeThePlace() {
  if (CheckForStop()) return false;
  if (!HoldsArchiveLock() || ArchiveIsAsOpened()) return true;
  SetStatus(StatusFileError);
  return false;
}

// Where the platform cannot replace an open file, the lock goes just before
// the archive is replaced or removed, after the last look at it.
static void LetLockGoIfNeeded() {
  if (!kPfReplacesOpenFiles) ReleaseArchive();
}

// Only a locked archive is replaced; an archive that is new takes a name
// that nothing has, so that of two writers making it at once one fails.
static void PutInPlace(const char* tempPath) {
  if (HoldsArchiveLock()) {
    LetLockGoIfNeeded();
    SwapArchive(tempPath);
  } else if (!PfRenameNew(tempPath, gArchivePath)) {
    SetStatus(StatusFileError);
    RemoveLeftover(tempPath);
  }
}

void FinishRebuild(const char* tempPath) {
  // The new archive must be on the disk before it takes the place of an
  // old one, or a crash could leave neither. With nothing to replace there
  // is nothing to lose, and the write-through is spared.
  // It replaces the archive as that file is: its permissions and owner.
  if (HoldsArchiveLock()) PfTakeOwnership(gInput, gOutput, tempPath);
  bool synced = !HoldsArchiveLock() || PfSync(gOutput);
  bool closed = PfClose(gOutput);
  gOutput = nullptr;
  if (!synced || !closed) SetStatus(StatusWriteError);
  if (!synced || !closed || !MayTakeThePlace()) {
    RemoveLeftover(tempPath);
    return;
  }
  PutInPlace(tempPath);
}

void FinishEmptyRebuild(const char* tempPath) {
  AbandonRebuild(tempPath);
  if (!MayTakeThePlace()) return;
  LetLockGoIfNeeded();
  if (!PfRemove(gArchivePath)) SetStatus(StatusFileError);
}

void AbandonRebuild(const char* tempPath) {
  CloseStream(&gOutput);
  if (tempPath[0] != '\0') RemoveLeftover(tempPath);
}
