#include "scanner.h"

#include "../base/status.h"
#include "../names/masks.h"

static ScanEnd EndScan(TarReader* r, ScanEnd end) {
  r->outcome.end = end;
  return end;
}

ScanEnd ScanArchive(TarReader* r, ByteSource* source, TarEntryList* list,
                    const FileMaskList* masks, bool keepAll,
                    const FileMaskList* select) {
  StartEntryList(list);
  if (!StartTarReader(r, source)) return r->outcome.end;
  for (;;) {
    TarEntry work;
    if (StopRequested()) return EndScan(r, kScanStopped);
    if (ReadTarHeader(r, &work) == 0) break;
    work.listed = work.selected = work.replaced = false;
    // The matching raises the name itself, and a list that takes every
    // name answers before it does.
    if (work.name[0] != '\0') {
      work.listed = MatchFileMaskList(work.name, masks);
      work.selected = work.listed && select != nullptr && MatchFileMaskList(work.name, select);
    }
    if (!work.listed && !keepAll) continue;
    if (!AppendEntry(list, work)) return EndScan(r, kScanOutOfMemory);
  }
  return r->outcome.end;
}
