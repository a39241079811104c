#include "archive.h"

#include <cstring>

#include "../tar/header.h"
#include "callbacks.h"
#include "../ops/list.h"
#include "../base/status.h"

char gArchivePath[kPathSize];
int gNewArchive = 0;

static void ForgetArchive(int newArchive) {
  memset(gArchivePath, 0, sizeof gArchivePath);
  gNewArchive = newArchive;
}

// Names an archive that may exist. Status: StatusOk (a TAR archive is now
// current), StatusArchiveNotFound (nothing there: the archive is new),
// StatusFileError (it cannot be read, or the path is too long) or
// StatusNotTarArchive. A failure leaves no archive current, so that no
// operation can run on the one named before.
void InitArcFile(const char* path) {
  SetStatus(StatusOk);
  ResetArchiveInfo();
  ResetCallbacks();
  SetStatus(StatusOk);
  gNewArchive = 0;
  if (strnlen(path, kPathSize) == kPathSize) {
    SetStatus(StatusFileError);
    ForgetArchive(0);
    return;
  }
  if (!FileExists(path)) {
    SetStatus(StatusArchiveNotFound);
    ForgetArchive(1);
    return;
  }
  PfFile* f = PfOpenRead(path);
  if (f == nullptr) {
    SetStatus(StatusFileError);
    ForgetArchive(0);
    return;
  }
  bool isTar = IsTarArc(f);
  PfClose(f);
  if (!isTar) {
    SetStatus(StatusNotTarArchive);
    ForgetArchive(0);
    return;
  }
  CopyPath(gArchivePath, sizeof gArchivePath, path);
}

// Names a new archive that must not exist yet. Nothing is created on disk
// until an add writes it.
void CreateArcFile(const char* path) {
  SetStatus(StatusOk);
  if (FileExists(path) || strnlen(path, kPathSize) == kPathSize) {
    SetStatus(StatusFileError);
    ForgetArchive(0);
    return;
  }
  ForgetArchive(1);
  CopyPath(gArchivePath, sizeof gArchivePath, path);
}

void DoneArcFile() {
  ForgetArchive(0);
  SetStatus(StatusOk);
}
