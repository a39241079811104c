#include "scanner.h"

#include "../base/status.h"
#include "../names/masks.h"

static ScanEnd EndScan(TarReader* r, ScanEnd end) {
  r->outcome.end = end;
  return end;
}

// The entries from where a started reader stands.
static ScanEnd ScanEntries(TarReader* r, TarEntryList* list, const FileMaskList* masks,
                           bool keepAll, const FileMaskList* select, MemberIndex* members) {
  for (;;) {
    TarEntry work;
    if (StopRequested()) return EndScan(r, kScanStopped);
    if (ReadTarHeader(r, &work) == 0) break;
    if (!NoteMember(members, &work)) return EndScan(r, kScanOutOfMemory);
    work.matched = work.listed = work.selected = work.replaced = work.inherited = false;
    work.heir = nullptr;
    // The matching raises the name itself, and a list that takes every
    // name answers before it does. Folders are not listed, since the host
    // builds its tree from the paths, but the ones the masks take are kept
    // for extraction.
    if (work.name[0] != '\0') {
      work.matched = MatchFileMaskList(work.name, masks);
      work.listed = work.matched && !IsFolderEntry(work);
      work.selected = work.listed && select != nullptr && MatchFileMaskList(work.name, select);
    }
    if (!work.matched && !keepAll) continue;
    if (!AppendEntry(list, work)) return EndScan(r, kScanOutOfMemory);
  }
  return r->outcome.end;
}

ScanEnd ScanArchive(TarReader* r, ByteSource* source, TarEntryList* list,
                    const FileMaskList* masks, bool keepAll, const FileMaskList* select,
                    MemberIndex* index) {
  StartEntryList(list);
  MemberIndex own = {};
  MemberIndex* members = index != nullptr ? index : &own;
  ScanEnd end = StartTarReader(r, source)
                    ? ScanEntries(r, list, masks, keepAll, select, members)
                    : r->outcome.end;
  DoneMemberIndex(&own);
  return end;
}
