#include "lock.h"

#include "../api/archive.h"
#include "../base/status.h"
#include "../platform/platform.h"
#include "streams.h"

struct LockedArchive {
  bool held;          // the input stream holds the lock
  PfFileStamp stamp;  // the archive when it was opened
};
static LockedArchive gLocked;

// What the last creation left at the archive path.
struct CreatedArchive {
  bool known;
  PfFileStamp stamp;
};
static CreatedArchive gCreated;

static bool Refuse() {
  SetStatus(StatusFileError);
  return false;
}

bool OpenArchiveForChange() {
  gLocked.held = false;
  if (gArchivePath[0] == '\0') return Refuse();
  // Refused by its attribute, whatever the platform's rename would allow.
  uint32_t attributes = PfGetAttributes(gArchivePath);
  if (attributes != kPfInvalidAttributes && (attributes & kPfAttrReadOnly)) return Refuse();
  gInput = PfOpenLocked(gArchivePath);
  if (gInput == nullptr) return Refuse();
  if (!PfStampOpen(gInput, &gLocked.stamp)) {
    CloseStream(&gInput);
    return Refuse();
  }
  gLocked.held = true;
  return true;
}

bool HoldsArchiveLock() { return gLocked.held; }

bool ArchiveIsAsOpened() {
  PfFileStamp now;
  return gLocked.held && PfStampPath(gArchivePath, &now) && PfSameStamp(now, gLocked.stamp);
}

bool ArchivePathNamesIt() {
  PfFileStamp open;
  PfFileStamp now;
  return gLocked.held && PfStampOpen(gInput, &open) && PfStampPath(gArchivePath, &now) &&
         PfSameStamp(open, now);
}

void ReleaseArchive() {
  CloseStream(&gInput);
  gLocked.held = false;
}

void RememberCreatedArchive() {
  gCreated.known = PfStampPath(gArchivePath, &gCreated.stamp);
}

bool OpenCreatedArchive() {
  if (!gCreated.known || !OpenArchiveForChange()) return Refuse();
  if (PfSameStamp(gLocked.stamp, gCreated.stamp)) return true;
  ReleaseArchive();
  return Refuse();
}
