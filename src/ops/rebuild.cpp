#include "rebuild.h"

#include "../base/status.h"
#include "../tar/format.h"

static bool DescribesNextEntry(char typeflag) {
  return typeflag == kTypeGnuLongName || typeflag == kTypeGnuLongLink ||
         typeflag == kTypePaxHeader;
}

void WalkForRebuild(const TarEntryList* list, KeepEntryFn keep, CarryEntryFn carry) {
  const TarEntry* pending = nullptr;  // extension headers awaiting their entry
  for (const TarEntry* e = list->head; e != nullptr && StatusIsOk(); e = e->next) {
    if (DescribesNextEntry(e->typeflag)) {
      if (pending == nullptr) pending = e;
      continue;
    }
    bool kept = keep(*e);
    if (!StatusIsOk()) return;
    if (kept) {
      for (const TarEntry* p = pending; p != nullptr && p != e && StatusIsOk(); p = p->next) {
        carry(*p);
      }
      if (StatusIsOk()) carry(*e);
    }
    pending = nullptr;
  }
  // Extension headers at the very end describe nothing, and would give
  // their name to whatever is appended after them: they are dropped.
}

void ScanForRebuild(TarEntryList* list, FileMaskList* allMembers,
                    const FileMaskList* select) {
  ScanArchive(list, allMembers, true, select);
  if ((StatusIsOk() || gArchiveStatus == StatusNoEntries) && ScanStoppedAtDamage()) {
    SetStatus(StatusFileError);
  }
}
