// Deleting members: a new archive without them is written beside the old
// one and swapped in; an archive left empty is removed.
#include "../archive/lock.h"
#include "../archive/rebuild.h"
#include "../base/status.h"
#include "../names/text.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../tar/copy.h"
#include "carry.h"
#include "ops.h"

// The members to delete are the listed ones that match the host's masks.
static bool KeepOnDelete(const TarEntry& entry) {
  if (!entry.selected) return true;
  char shown[1 + sizeof entry.name];
  DisplayName(entry.name, shown, sizeof shown);
  NotifyFileName(shown, shown);
  return false;
}

// A member carried over, with the extension entries before it, gets fresh
// padding and one progress call; entries that are not listed travel
// silently.
static void CarryWithFreshPadding(const Carry& c, const TarEntry& entry) {
  SetStatusFor(CopyMember(c.in, c.out, entry.spanStart, entry.dataEnd - entry.spanStart));
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
static void CopyRemaining(const FileMaskList* masks, const ArchiveLock& lock, PfFile* temp) {
  FileSource archive;
  StartFileSource(&archive, lock.file);
  TarReader reader;
  TarEntryList members;
  ScanForRebuild(&reader, &archive, &members, masks);
  if (StatusIsOk() && !AnySelected(&members)) SetStatus(StatusNoEntries);
  if (StatusIsOk()) {
    SignalTotal(members.count, SignalMembers);
    TarWriter out;
    StartTarWriter(&out, temp);
    WalkForRebuild(&members, KeepOnDelete, CarryWithFreshPadding, Carry{&archive, &out});
    EndTarWriter(&out);
  }
  FreeTarEntryList(&members);
}

// No end-of-archive marker: the archive ends with its last member. An
// archive left with nothing is removed, while the lock is still held, so
// that no other writer's archive can take its place in between.
void DeleteArc(const FileMaskList* masks) {
  ArchiveLock lock;
  Rebuild rb;
  Outcome begun = OpenArchiveForChange(gArchivePath, &lock);
  if (begun == kDone) begun = BeginRebuild(gArchivePath, &rb);
  SetStatusFor(begun);
  if (begun == kDone) {
    CopyRemaining(masks, lock, rb.file);
    if (!StatusIsOk()) {
      AbandonRebuild(&rb);
    } else if (PfLength(rb.file) == 0) {
      SetStatusFor(FinishEmptyRebuild(&rb, &lock, gArchivePath));
    } else {
      SetStatusFor(FinishRebuild(&rb, &lock, gArchivePath));
    }
  }
  ReleaseArchive(&lock);
}
