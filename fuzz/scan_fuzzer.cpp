// Fuzzes the reader with archives in memory, with no file per input: every
// entry a scan finds must lie inside the bytes, after the one before it, and
// a sparse member's map is walked region by region as extraction walks it.
// With the first byte odd, the harness puts valid checksums into every
// header-sized block, as the archive fuzzer does.
#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "fuzz_common.h"
#include "tar/scanner.h"

static void Check(bool holds) {
  if (!holds) __builtin_trap();
}

static void WalkMap(TarReader* reader, const TarEntry& e) {
  SparseCursor* c = &reader->cursor;
  if (!StartSparseCursor(c, &reader->records, reader->source, e)) return;
  int64_t offset;
  int64_t length;
  while (NextRegion(c, &offset, &length)) {
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TarReader reader;
  if (size == 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) FixChecksums(&bytes);
  MemorySource source;
  StartMemorySource(&source, bytes.data(), bytes.size());
  TarEntryList list;
  FileMaskList all = {nullptr, nullptr};
  ScanArchive(&reader, &source, &list, &all, true);
  int64_t end = 0;
  for (const TarEntry* e = list.head; e != nullptr; e = e->next) {
    Check(e->spanStart >= end && e->spanStart <= e->headerOffset);
    Check(e->headerOffset < e->dataOffset && e->dataOffset <= e->dataEnd);
    Check(e->headerOffset < static_cast<int64_t>(bytes.size()));
    end = SpanEnd(*e);
    if (e->sparse != kSparseNone) WalkMap(&reader, *e);
  }
  Check(reader.outcome.entriesEnd == (list.tail != nullptr ? SpanEnd(*list.tail) : 0));
  FreeTarEntryList(&list);
  return 0;
}
