#include "carry.h"

#include "../base/status.h"
#include "../names/masks.h"
#include "../tar/scanner.h"
#include "ops.h"

int64_t WalkForRebuild(const TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry,
                       const Carry& c) {
  int64_t carried = 0;
  for (const TarEntry* e = list->head; e != nullptr && StatusIsOk(); e = e->next) {
    bool kept = keep(*e);
    if (!kept || !StatusIsOk()) continue;
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
