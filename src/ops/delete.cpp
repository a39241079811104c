// Deleting members: a new archive without them is written beside the old
// one and swapped in; an archive left empty is removed.
#include <cstring>

#include "../api/archive.h"
#include "../api/callbacks.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../platform/platform.h"
#include "../tar/lock.h"
#include "../tar/scanner.h"
#include "../tar/streams.h"
#include "../tar/transfer.h"
#include "ops.h"
#include "rebuild.h"

// The members to delete are the listed ones that match the host's masks.
static bool KeepOnDelete(const TarEntry& entry) {
  if (!entry.selected) return true;
  char shown[1 + sizeof entry.name];
  shown[0] = '\\';
  memcpy(shown + 1, entry.name, strlen(entry.name) + 1);
  NotifyFileName(shown, shown);
  return false;
}

// A member carried over, with the extension entries before it, gets fresh
// padding and one progress call; entries that are not listed travel
// silently.
static void CarryWithFreshPadding(const TarEntry& entry) {
  CopyMember(entry.spanStart, entry.dataEnd - entry.spanStart);
  if (!entry.listed) return;
  if (ReportFixedProgress(100, 1) == 0) SetStatus(StatusUserAbort);
}

static bool AnySelected(const TarEntryList* list) {
  for (const TarEntry* e = list->head; e != nullptr; e = e->next) {
    if (e->selected) return true;
  }
  return false;
}

// Scans, copies what stays into the open temporary file. One scan tells
// what is listed and what of it the masks name.
static void CopyRemaining(const FileMaskList* masks, FileMaskList* all) {
  TarEntryList members = {};
  ScanForRebuild(&members, all, masks);
  if (StatusIsOk() && !AnySelected(&members)) SetStatus(StatusNoEntries);
  if (StatusIsOk()) {
    SignalTotal(members.count, 3);
    WalkForRebuild(&members, KeepOnDelete, CarryWithFreshPadding);
  }
  FreeTarEntryList(&members);
}

// No end-of-archive marker: the archive ends with its last member. An
// archive left with nothing is removed, while the lock is still held, so
// that no other writer's archive can take its place in between.
void DeleteArc(const FileMaskList* masks) {
  FileMaskList all;
  InitMaskList(&all);
  char tempPath[kFullPathSize];
  if (AppendMask("*.*", &all) && OpenArchiveForChange() && BeginRebuild(tempPath)) {
    CopyRemaining(masks, &all);
    if (!StatusIsOk()) {
      AbandonRebuild(tempPath);
    } else if (PfLength(gOutput) == 0) {
      FinishEmptyRebuild(tempPath);
    } else {
      FinishRebuild(tempPath);
    }
  }
  ReleaseArchive();
  DoneMaskList(&all);
}
