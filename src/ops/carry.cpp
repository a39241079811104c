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
    if (target != nullptr && removed(*target) && target->heir == nullptr &&
        target->sparse == kSparseNone) {
      target->heir = e;
      e->inherited = true;
    }
  }
  free(byOrdinal);
  return true;
}

// The heir as a regular member, with the removed member's data.
static void WriteHeir(const Carry& c, const TarEntry& target, const TarEntry& heir) {
  PfFileStatus status = {};
  status.mode = static_cast<uint32_t>(heir.mode >= 0 ? heir.mode : 0644);
  status.size = StoredSize(target);
  status.mtime = heir.hasTime ? heir.mtime : target.mtime;
  if (!WriteTarHeader(c.out, status, {kTypeRegular, heir.name, ""})) {
    SetStatus(StatusWriteError);
    return;
  }
  SetStatusFor(CopyMember(c.in, c.out, target.dataOffset, StoredSize(target)));
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
    if (!kept && e->heir != nullptr) {
      WriteHeir(c, *e, *e->heir);
      carried++;
    }
    if (!kept || e->inherited) continue;
    carry(c, *e);
    carried++;
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
