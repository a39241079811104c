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
}

static void ReportCarried(const TarEntry&) {
  if (ReportFixedProgress(100, 1) == 0) SetStatus(StatusUserAbort);
}

static bool Selected(const TarEntry& entry) { return entry.selected; }

static bool AnySelected(const TarEntryList* list) {
  for (const TarEntry* e = list->head; e != nullptr; e = e->next) {
    if (e->selected) return true;
  }
  return false;
}

// The entries that stay, into the temporary file, compressed as the archive
// is; a compressed archive ends with its end marker.
static int64_t CarryRemaining(TarEntryList* members, ArchiveInput* in, PfFile* temp) {
  ArchiveOutput out;
  Outcome started = StartArchiveOutput(&out, temp, in->codec);
  SetStatusFor(started);
  int64_t carried = 0;
  if (started == kDone) {
    carried = WalkForRebuild(members, KeepOnDelete, CarryWithFreshPadding,
                             Carry{in->source, &out.writer, ReportCarried}, Selected);
    if (carried > 0 && in->codec != kCodecNone && StatusIsOk() && EndArchive(&out.writer)) {
      SetStatusFor(FinishArchiveOutput(&out));
    }
  }
  EndArchiveOutput(&out);
  return carried;
}

// Scans, copies what stays into the open temporary file, and answers how
// many entries stayed. One scan tells what is listed and what of it the
// masks name.
static int64_t CopyRemaining(const FileMaskList* masks, const ArchiveLock& lock, PfFile* temp) {
  ArchiveInput in;
  Outcome started = StartArchiveInput(&in, lock.file);
  SetStatusFor(started);
  TarEntryList members;
  StartEntryList(&members);
  TarReader reader;
  if (started == kDone) ScanForRebuild(&reader, &in, &members, masks);
  if (StatusIsOk() && !AnySelected(&members)) SetStatus(StatusNoEntries);
  int64_t carried = 0;
  if (StatusIsOk()) {
    SignalTotal(members.count, SignalMembers);
    carried = CarryRemaining(&members, &in, temp);
  }
  EndArchiveInput(&in);
  FreeTarEntryList(&members);
  return carried;
}

// A plain archive gets no end-of-archive marker: it ends with its last
// member. An archive left with nothing is removed, while the lock is still
// held, so that no other writer's archive can take its place in between.
void DeleteArc(const FileMaskList* masks) {
  ArchiveLock lock;
  Rebuild rb;
  Outcome begun = OpenArchiveForChange(gArchivePath, &lock);
  if (begun == kDone) begun = BeginRebuild(lock.path, &rb);
  SetStatusFor(begun);
  if (begun == kDone) {
    int64_t carried = CopyRemaining(masks, lock, rb.file);
    if (!StatusIsOk()) {
      AbandonRebuild(&rb);
    } else if (carried == 0) {
      SetStatusFor(FinishEmptyRebuild(&rb, &lock, lock.path));
    } else {
      SetStatusFor(FinishRebuild(&rb, &lock, lock.path));
    }
  }
  ReleaseArchive(&lock);
}
