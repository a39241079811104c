#include "list.h"

#include <cstdlib>
#include <cstring>

#include "../base/chain.h"
#include "../base/status.h"
#include "../platform/platform.h"
#include "../session/current.h"
#include "../tar/scanner.h"
#include "archiveio.h"
#include "ops.h"
#include "progress.h"

// 1980-01-01 00:00:00, the earliest the form holds.
static const uint32_t kDosEarliest = (1u << 21) | (1u << 16);

uint32_t DosDateTime(int64_t mtime, bool hasTime) {
  uint32_t dos;
  if (hasTime && PfDosDateTime(mtime, &dos)) return dos;
  return kDosEarliest;
}

ArcFileList* InitFileList(ArcFileList* list) {
  list->count = 0;
  list->head = list->tail = nullptr;
  return list;
}

void DoneFileList(ArcFileList* list) {
  FreeChain(list->head);
  InitFileList(list);
}

ArchiveInfo* CopyArchiveInfo(ArchiveInfo* info) {
  memcpy(info, &gArchiveInfo, sizeof gArchiveInfo);
  return info;
}

// In a compressed archive no member has a size of its own there: the second
// size is the first.
static ArcFileEntry* NewArcFileEntry(const TarEntry& member, bool compressed) {
  ArcFileEntry* entry = static_cast<ArcFileEntry*>(calloc(1, sizeof(ArcFileEntry)));
  if (entry == nullptr) return nullptr;
  memcpy(entry->name, member.name, strnlen(member.name, sizeof member.name - 1));
  // A sparse member is the file it stands for, stored in fewer bytes.
  // A link stands for the member it names, and takes no room of its own.
  entry->size = member.size;
  entry->packedSize = IsLinkEntry(member) ? 0 : compressed ? member.size : StoredSize(member);
  entry->dosDateTime = DosDateTime(member.mtime, member.hasTime);
  entry->attributes = member.attributes;
  entry->kind = 12;
  entry->field332 = 1;
  return entry;
}

// In a plain archive sizes are stored, not packed, so the ratio is 100 for
// any data and 0 for none.
static int32_t CompressionRatio(int64_t t1, int64_t t2) {
  HalveForPercent(&t1, &t2);
  if (t2 == 0) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(t1 * 100 / t2));
}

// `fileTotal`, when it is not -1, stands for the second total: the size of a
// compressed archive whose every member is listed.
static int32_t FillArchiveInfo(const ArcFileList* list, int64_t fileTotal) {
  memset(&gArchiveInfo, 0, sizeof gArchiveInfo);
  gArchiveInfo.field0 = 10;
  gArchiveInfo.field4 = 1;
  gArchiveInfo.field8 = 2;
  gArchiveInfo.entryCount = list->count;
  for (const ArcFileEntry* e = list->head; e != nullptr; e = e->next) {
    gArchiveInfo.sizeTotal += e->size;
    gArchiveInfo.packedTotal += e->packedSize;
  }
  if (fileTotal >= 0) gArchiveInfo.packedTotal = fileTotal;
  gArchiveInfo.ratio = CompressionRatio(gArchiveInfo.sizeTotal, gArchiveInfo.packedTotal);
  return gArchiveInfo.ratio;
}

// Appends the matching members to the host's list (entries it had stay in
// front) and fills ArchiveInfo. Answers the ratio, or 0 on failure. The
// members before damage are listed, with StatusFileError and ArchiveInfo
// as it was, so that the host sees what can be read and that more is lost.
// What a listing learnt of the archive besides its members.
struct Listed {
  ScanEnd end;
  bool compressed;
  bool badRecords;
  int64_t fileSize;
};

// Scans the current archive; a compressed one keeps every entry, so that
// the listing can tell whether the masks took them all.
static Listed ScanForListing(TarEntryList* members, const FileMaskList* masks) {
  Listed listed = {kScanReadError, false, false, -1};
  PfFile* input = OpenArchiveInput();
  if (input == nullptr) return listed;
  ArchiveInput in;
  Outcome started = StartArchiveInput(&in, input);
  if (started == kDone) {
    TarReader reader;
    listed.compressed = in.codec != kCodecNone;
    listed.end = ScanArchive(&reader, in.source, members, masks, listed.compressed);
    listed.end = InputScanEnd(in, reader, listed.end);
    listed.badRecords = reader.outcome.badRecords;
    listed.fileSize = in.fileSize;
  }
  EndArchiveInput(&in);
  PfClose(input);
  SetStatusFor(started);
  if (started == kDone) SetScanStatus(listed.end, members->count);
  return listed;
}

int32_t ListArc(ArcFileList* list, const FileMaskList* masks) {
  TarEntryList members;
  StartEntryList(&members);
  Listed listed = ScanForListing(&members, masks);
  ScanEnd end = listed.end;
  bool damaged = end == kScanDamaged;
  if (!StatusIsOk() && !(damaged && gArchiveStatus == StatusFileError)) {
    FreeTarEntryList(&members);
    return 0;
  }
  // Each member goes as soon as its entry is made, so that the two lists
  // are never both whole: their freed records make room for the entries.
  bool every = true;
  while (TarEntry* m = members.head) {
    members.head = m->next;
    if (!m->listed) {
      every = every && (m->name[0] == '\0' || IsFolderEntry(*m));
      free(m);
      continue;
    }
    ArcFileEntry* entry = NewArcFileEntry(*m, listed.compressed);
    free(m);
    if (entry == nullptr) {
      SetStatus(StatusOutOfMemory);
      FreeTarEntryList(&members);
      return 0;
    }
    AppendNode(&list->head, &list->tail, entry);
    list->count++;
  }
  FreeTarEntryList(&members);
  if (damaged) return 0;
  int32_t ratio = FillArchiveInfo(list, listed.compressed && every ? listed.fileSize : -1);
  // Extension records passed over: listed without what they said.
  if (listed.badRecords) SetStatus(StatusFileError);
  return ratio;
}
