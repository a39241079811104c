// Naming the current archive: InitArcFile, CreateArcFile and DoneArcFile.
#include <cstring>

#include "../base/status.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../tar/header.h"
#include "archiveio.h"
#include "ops.h"

// Names an archive that may exist. Status: StatusOk (a TAR archive is now
// current), StatusArchiveNotFound (nothing there: the archive is new),
// StatusFileError (it cannot be read, or the path is null or too long) or
// StatusNotTarArchive. A compressed archive is accepted when what it
// decompresses to begins as a plain one does. A failure leaves no archive current, so that no
// operation can run on the one named before.
void NameArchive(const char* path) {
  SetStatus(StatusOk);
  memset(&gArchiveInfo, 0, sizeof gArchiveInfo);
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
  ArchiveInput in;
  bool isTar = StartArchiveInput(&in, f) == kDone && IsTarArc(in.source);
  // A stream that needs more memory than a decoder may take cannot be read:
  // whether it holds an archive is not known.
  bool tooLarge = in.codec != kCodecNone && DecoderState(in.decoded) == kDecodeTooLarge;
  EndArchiveInput(&in);
  PfClose(f);
  if (tooLarge) {
    SetStatus(StatusFileError);
    SetArchive(nullptr, 0);
    return;
  }
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
