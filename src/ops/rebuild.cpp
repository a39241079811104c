#include "rebuild.h"

#include "../base/status.h"

void WalkForRebuild(const TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry) {
  for (const TarEntry* e = list->head; e != nullptr && StatusIsOk(); e = e->next) {
    bool kept = keep(*e);
    if (kept && StatusIsOk()) carry(*e);
  }
}

void ScanForRebuild(TarEntryList* list, FileMaskList* allMembers,
                    const FileMaskList* select) {
  ScanArchive(list, allMembers, true, select);
  if ((StatusIsOk() || gArchiveStatus == StatusNoEntries) && ScanStoppedAtDamage()) {
    SetStatus(StatusFileError);
  }
}
