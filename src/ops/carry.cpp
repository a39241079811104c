#include "carry.h"

#include <cstdlib>

#include "../tar/copy.h"

#include "../base/status.h"
#include "../names/masks.h"
#include "../tar/scanner.h"
#include "ops.h"

// Marks, for each removed member that kept hard links name, the first of
// them as its heir. A sparse member's data is no file's, and stays with it.
static bool PlanInheritance(TarEntryList* list, RemovedFn removed) {
  int32_t n = 0;
  bool links = false;
  for (TarEntry* e = list->head; e != nullptr; e = e->next, n++) {
    links = links || e->typeflag == kTypeHardLink;
  }
  if (!links) return true;
  TarEntry** byOrdinal = static_cast<TarEntry**>(calloc(static_cast<size_t>(n), sizeof(TarEntry*)));
  if (byOrdinal == nullptr) return false;
  for (TarEntry* e = list->head; e != nullptr; e = e->next) {
    if (e->ordinal >= 0 && e->ordinal < n) byOrdinal[e->ordinal] = e;
  }
  for (TarEntry* e = list->head; e != nullptr; e = e->next) {
    if (e->typeflag != kTypeHardLink || e->linkOrdinal < 0 || e->linkOrdinal >= n ||
        removed(*e)) {
      continue;
    }
    TarEntry* target = byOrdinal[e->linkOrdinal];
    if (target == nullptr || !removed(*target) || target->sparse != kSparseNone) continue;
    if (target->heir == nullptr) {
      target->heir = e;
      e->inherited = true;
    } else {
      e->heir = target->heir;
    }
  }
  free(byOrdinal);
  return true;
}

// A header written anew for a link, with its own mode and time.
static bool WriteLinkHeader(const Carry& c, const TarEntry& link, const MemberHead& head,
                            int64_t size, int64_t fallbackTime) {
  PfFileStatus status = {};
  status.mode = static_cast<uint32_t>(link.mode >= 0 ? link.mode : 0644);
  status.size = size;
  status.mtime = link.hasTime ? link.mtime : fallbackTime;
  if (WriteTarHeader(c.out, status, head)) return true;
  SetStatus(StatusWriteError);
  return false;
}

// The heir as a regular member, with the removed member's data.
static void WriteHeir(const Carry& c, const TarEntry& target, const TarEntry& heir) {
  if (WriteLinkHeader(c, heir, {kTypeRegular, heir.name, ""}, StoredSize(target),
                      target.mtime)) {
    SetStatusFor(CopyMember(c.in, c.out, target.dataOffset, StoredSize(target)));
  }
}

int64_t WalkForRebuild(TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry,
                       const Carry& c, RemovedFn removed) {
  if (!PlanInheritance(list, removed)) {
    SetStatus(StatusOutOfMemory);
    return 0;
  }
  int64_t carried = 0;
  for (const TarEntry* e = list->head; e != nullptr && StatusIsOk(); e = e->next) {
    bool kept = keep(*e);
    if (!StatusIsOk()) continue;
    const TarEntry* written = e;
    if (!kept && e->heir != nullptr) {
      WriteHeir(c, *e, *e->heir);
      written = e->heir;
    } else if (!kept || e->inherited) {
      continue;
    } else if (e->heir != nullptr) {
      WriteLinkHeader(c, *e, {kTypeHardLink, e->name, e->heir->name}, 0, 0);
    } else {
      carry(c, *e);
    }
    carried++;
    if (StatusIsOk() && c.carried != nullptr && written->listed) c.carried(*written);
  }
  return carried;
}

void ScanForRebuild(TarReader* r, ArchiveInput* in, TarEntryList* list,
                    const FileMaskList* select) {
  // An empty list takes every name.
  FileMaskList all = {nullptr, nullptr};
  ScanEnd end = ScanArchive(r, in->source, list, &all, true, select);
  SetScanStatus(InputScanEnd(*in, *r, end), list->count);
  if (in->codec != kCodecNone && (StatusIsOk() || gArchiveStatus == StatusNoEntries)) {
    SetStatusFor(RestartArchiveInput(in));
  }
}
