#include "carry.h"

#include "../base/status.h"
#include "../names/masks.h"
#include "../tar/scanner.h"
#include "ops.h"

void WalkForRebuild(const TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry,
                    const Carry& c) {
  for (const TarEntry* e = list->head; e != nullptr && StatusIsOk(); e = e->next) {
    bool kept = keep(*e);
    if (kept && StatusIsOk()) carry(c, *e);
  }
}

void ScanForRebuild(TarReader* r, ByteSource* source, TarEntryList* list,
                    const FileMaskList* select) {
  // An empty list takes every name.
  FileMaskList all = {nullptr, nullptr};
  ScanEnd end = ScanArchive(r, source, list, &all, true, select);
  SetScanStatus(end, list->count);
}
