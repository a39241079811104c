#include "archive.h"

#include <cstring>

#include "../tar/header.h"
#include "callbacks.h"
#include "../ops/list.h"
#include "../base/status.h"

char gArchiveName[kPathSize];
char gArchivePath[kFullPathSize];
int gNewArchive = 0;

static void SetArchive(const char* path, int newArchive) {
  memset(gArchiveName, 0, sizeof gArchiveName);
  memset(gArchivePath, 0, sizeof gArchivePath);
  if (path != nullptr) {
    CopyPath(gArchiveName, sizeof gArchiveName, path);
    CopyPath(gArchivePath, sizeof gArchivePath, path);
  }
  gNewArchive = newArchive;
}

static bool Unnameable(const char* path) {
  return path == nullptr || strnlen(path, kPathSize) == kPathSize;
}

// Names an archive that may exist. Status: StatusOk (a TAR archive is now
// current), StatusArchiveNotFound (nothing there: the archive is new),
// StatusFileError (it cannot be read, or the path is null or too long) or
// StatusNotTarArchive. A failure leaves no archive current, so that no
// operation can run on the one named before.
void NameArchive(const char* path) {
  SetStatus(StatusOk);
  ResetArchiveInfo();
  ResetCallbacks();
  SetStatus(StatusOk);
  gNewArchive = 0;
  if (Unnameable(path)) {
    SetStatus(StatusFileError);
    SetArchive(nullptr, 0);
    return;
  }
  if (!FileExists(path)) {
    SetStatus(StatusArchiveNotFound);
    SetArchive(nullptr, 1);
    return;
  }
  PfFile* f = PfOpenRead(path);
  if (f == nullptr) {
    SetStatus(StatusFileError);
    SetArchive(nullptr, 0);
    return;
  }
  bool isTar = IsTarArc(f);
  PfClose(f);
  if (!isTar) {
    SetStatus(StatusNotTarArchive);
    SetArchive(nullptr, 0);
    return;
  }
  SetArchive(path, 0);
}

// Names a new archive that must not exist yet. Nothing is created on disk
// until an add writes it.
void NameNewArchive(const char* path) {
  SetStatus(StatusOk);
  if (Unnameable(path) || FileExists(path)) {
    SetStatus(StatusFileError);
    SetArchive(nullptr, 0);
    return;
  }
  SetArchive(path, 1);
}

void ForgetArchive() {
  SetArchive(nullptr, 0);
  SetStatus(StatusOk);
}

// A name whose absolute form cannot be made leaves the operation no archive
// to work on: it fails as with none named.
void FixArchivePath() {
  if (gArchiveName[0] == '\0' || !FullPath(gArchiveName, gArchivePath, sizeof gArchivePath)) {
    memset(gArchivePath, 0, sizeof gArchivePath);
  }
}
