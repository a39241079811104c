#include "append.h"

#include <cstring>

#include "../archive/append.h"
#include "../base/status.h"
#include "../platform/platform.h"
#include "../session/current.h"
#include "../tar/format.h"
#include "../tar/header.h"
#include "archiveio.h"
#include "items.h"

// Whether nothing but zeros lies in the archive from `from` to `end`.
static bool OnlyZerosFrom(ByteSource* archive, int64_t from, int64_t end) {
  unsigned char block[kBlockSize];
  if (!SourceMoveTo(archive, from)) return false;
  for (int64_t left = end - from; left > 0;) {
    size_t k = left < static_cast<int64_t>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
    if (SourceRead(archive, block, k) != k || !IsAllZero(block, k)) return false;
    left -= static_cast<int64_t>(k);
  }
  return true;
}

// The first data block the add pass will write, as far as it can be known
// before: the data of the first extension entry, or the first bytes of the
// first file. Nothing to add, or a pass that will fail before anything is
// visible, is no danger.
static bool FirstDataBlockIsSafe(const FileMaskList* items, const ItemFilter* filter) {
  StoredItem first;
  char source[kFullSourceSize];
  if (!FirstItemToAdd(items, filter, &first, source)) return true;
  unsigned char entries[kNameEntryMax];
  unsigned char block[kBlockSize] = {};
  size_t entriesLen;
  // A name that cannot be carried makes the pass fail before anything shows.
  MemberHead head = {first.typeflag, first.member, first.link};
  if (!BuildNameEntries(head, entries, &entriesLen)) return true;
  if (entriesLen > 0) {
    memcpy(block, entries + kBlockSize, kBlockSize);
    return IsSafeFirstDataBlock(block);
  }
  // An empty file, a folder or a link leaves the next header, or the end
  // marker, right after its own.
  if (first.typeflag != kTypeRegular || first.status.size == 0) return false;
  PfFile* f = PfOpenRead(source);
  if (f == nullptr) return true;
  PfRead(f, block, kBlockSize);
  PfClose(f);
  return IsSafeFirstDataBlock(block);
}

bool CanAppendInPlace(const TarEntryList* members, const ScanOutcome& scan,
                      ByteSource* archive, const FileMaskList* items,
                      const ItemFilter* filter) {
  for (const TarEntry* e = members->head; e != nullptr; e = e->next) {
    if (e->replaced) return false;
  }
  if (StoppedAtDamage(scan) || scan.zeroBetween || scan.trailingExtension ||
      scan.sourceLength < 0 || scan.entriesEnd > scan.sourceLength) {
    return false;
  }
  return OnlyZerosFrom(archive, scan.entriesEnd, scan.sourceLength) &&
         FirstDataBlockIsSafe(items, filter);
}

void AppendInPlace(const ScanOutcome& scan, const ArchiveLock& lock, const FileMaskList* items,
                   const ItemFilter* filter) {
  Append a;
  Outcome begun = BeginAppend(lock, lock.path, scan.entriesEnd, scan.sourceLength, &a);
  if (begun != kDone) {
    SetStatusFor(begun);
    return;
  }
  TarWriter out;
  StartTarWriter(&out, a.writer);
  bool written = AddItems(&out, items, nullptr, filter) && EndArchive(&out);
  EndTarWriter(&out);
  SetStatusFor(EndAppend(&a, written, lock, lock.path));
}
