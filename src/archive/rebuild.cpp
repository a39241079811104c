#include "rebuild.h"

#include "tempname.h"

Outcome SwapArchive(const char* tempPath, const char* archivePath) {
  if (PfReplace(tempPath, archivePath)) return kDone;
  RemoveLeftover(tempPath);
  return kFailed;
}

Outcome BeginRebuild(const char* archivePath, Rebuild* rb) {
  rb->tempPath[0] = '\0';
  rb->file = nullptr;
  if (archivePath[0] == '\0') return kFailed;
  // A name taken since it was chosen makes another be chosen; a folder where
  // names keep being taken gives up after a while.
  for (int attempt = 0; attempt < 100; attempt++) {
    if (!MakeTempName(archivePath, rb->tempPath, sizeof rb->tempPath)) break;
    // Created exclusively: a file that appeared since the name was chosen is
    // never truncated; another name is chosen instead.
    rb->file = PfCreateNew(rb->tempPath);
    if (rb->file != nullptr) return kDone;
    if (!FileExists(rb->tempPath)) break;
  }
  rb->tempPath[0] = '\0';
  return kFailed;
}

// Whether the finished temporary file may now take the archive's place: no
// stop was asked for, and a locked archive is still the file that was read,
// as it was: one put in its place or written in place meanwhile by a writer
// that ignores the lock would otherwise lose that writer's change.
static Outcome MayTakeThePlace(const ArchiveLock& lock, const char* archivePath) {
  if (StopRequested()) return kStopped;
  if (!HoldsArchiveLock(lock) || ArchiveIsAsOpened(lock, archivePath)) return kDone;
  return kFailed;
}

// Where the platform cannot replace an open file, the lock goes just before
// the archive is replaced or removed, after the last look at it.
static void LetLockGoIfNeeded(ArchiveLock* lock) {
  if (!kPfReplacesOpenFiles) ReleaseArchive(lock);
}

// Only a locked archive is replaced; an archive that is new takes a name
// that nothing has, so that of two writers making it at once one fails.
static Outcome PutInPlace(const char* tempPath, ArchiveLock* lock, const char* archivePath) {
  if (HoldsArchiveLock(*lock)) {
    LetLockGoIfNeeded(lock);
    return SwapArchive(tempPath, archivePath);
  }
  if (PfRenameNew(tempPath, archivePath)) return kDone;
  RemoveLeftover(tempPath);
  return kFailed;
}

Outcome FinishRebuild(Rebuild* rb, ArchiveLock* lock, const char* archivePath) {
  // The new archive must be on the disk before it takes the place of an
  // old one, or a crash could leave neither. With nothing to replace there
  // is nothing to lose, and the write-through is spared.
  // It replaces the archive as that file is: its permissions and owner.
  bool held = HoldsArchiveLock(*lock);
  if (held) PfTakeOwnership(lock->file, rb->file, rb->tempPath);
  bool synced = !held || PfSync(rb->file);
  bool closed = PfClose(rb->file);
  rb->file = nullptr;
  Outcome placed = synced && closed ? MayTakeThePlace(*lock, archivePath) : kWriteFailed;
  if (placed != kDone) {
    RemoveLeftover(rb->tempPath);
    return placed;
  }
  return PutInPlace(rb->tempPath, lock, archivePath);
}

Outcome FinishEmptyRebuild(Rebuild* rb, ArchiveLock* lock, const char* archivePath) {
  AbandonRebuild(rb);
  Outcome placed = MayTakeThePlace(*lock, archivePath);
  if (placed != kDone) return placed;
  LetLockGoIfNeeded(lock);
  return PfRemove(archivePath) ? kDone : kFailed;
}

void AbandonRebuild(Rebuild* rb) {
  if (rb->file != nullptr) PfClose(rb->file);
  rb->file = nullptr;
  if (rb->tempPath[0] != '\0') RemoveLeftover(rb->tempPath);
}
