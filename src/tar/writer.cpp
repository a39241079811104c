#include "writer.h"

#include <cstdlib>

#include "format.h"
#include "header.h"

static const unsigned char kZeros[2 * kBlockSize] = {};

void StartTarWriter(TarWriter* w, PfFile* file) {
  StartFileSink(&w->fileSink, file);
  w->sink = &w->fileSink;
  w->file = file;
  w->buffer = nullptr;
}

void EndTarWriter(TarWriter* w) {
  free(w->buffer);
  w->buffer = nullptr;
}

unsigned char* TransferBuffer(TarWriter* w) {
  if (w->buffer == nullptr) w->buffer = static_cast<unsigned char*>(malloc(kTransferSize));
  return w->buffer;
}

bool WriteTarHeader(TarWriter* w, const PfFileStatus& status, const MemberHead& head) {
  unsigned char block[kBlockSize];
  if (!BuildTarHeader(status, head, block)) return false;
  // A name or target that cannot be carried whole is not written cut.
  unsigned char entries[kNameEntryMax];
  size_t entriesLen;
  if (!BuildNameEntries(head, entries, &entriesLen)) return false;
  if (entriesLen > 0 && SinkWrite(w->sink, entries, entriesLen) != entriesLen) return false;
  return SinkWrite(w->sink, block, kBlockSize) == kBlockSize;
}

bool WriteEndMarker(TarWriter* w) {
  return SinkWrite(w->sink, kZeros, sizeof kZeros) == sizeof kZeros;
}

bool WritePadding(TarWriter* w, int64_t size) {
  int64_t rest = size % static_cast<int64_t>(kBlockSize);
  size_t pad = rest == 0 ? 0 : kBlockSize - static_cast<size_t>(rest);
  return pad == 0 || SinkWrite(w->sink, kZeros, pad) == pad;
}
