#include "lock.h"

Outcome OpenArchiveForChange(const char* path, ArchiveLock* lock) {
  lock->file = nullptr;
  lock->path[0] = '\0';
  if (path[0] == '\0') return kFailed;
  // Refused by its attribute, whatever the platform's rename would allow.
  uint32_t attributes = PfGetAttributes(path);
  if (attributes != kPfInvalidAttributes && (attributes & kPfAttrReadOnly)) return kFailed;
  PfFile* file = PfOpenLocked(path);
  if (file == nullptr) return kFailed;
  // Where the system cannot tell, the path as named stands.
  if (!PfResolvedPath(file, lock->path, sizeof lock->path) &&
      !CopyPath(lock->path, sizeof lock->path, path)) {
    PfClose(file);
    return kFailed;
  }
  if (!PfStampOpen(file, &lock->stamp)) {
    PfClose(file);
    return kFailed;
  }
  lock->file = file;
  return kDone;
}

bool ArchiveIsAsOpened(const ArchiveLock& lock, const char* path) {
  PfFileStamp now;
  return HoldsArchiveLock(lock) && PfStampPath(path, &now) && PfSameStamp(now, lock.stamp);
}

bool ArchivePathNamesIt(const ArchiveLock& lock, const char* path) {
  PfFileStamp open;
  PfFileStamp now;
  return HoldsArchiveLock(lock) && PfStampOpen(lock.file, &open) && PfStampPath(path, &now) &&
         PfSameStamp(open, now);
}

void ReleaseArchive(ArchiveLock* lock) {
  if (lock->file != nullptr) PfClose(lock->file);
  lock->file = nullptr;
}

bool StampCreatedArchive(const char* path, PfFileStamp* stamp) {
  return PfStampPath(path, stamp);
}

Outcome OpenCreatedArchive(const char* path, const PfFileStamp* created, ArchiveLock* lock) {
  lock->file = nullptr;
  lock->path[0] = '\0';
  if (created == nullptr || OpenArchiveForChange(path, lock) != kDone) return kFailed;
  if (PfSameStamp(lock->stamp, *created)) return kDone;
  ReleaseArchive(lock);
  return kFailed;
}
