// The writer: where an operation's output goes (an extracted file, a new
// archive, a temporary archive), the headers and the end-of-archive marker
// it writes, and the transfer buffer of the operation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../base/bytes.h"
#include "../platform/platform.h"
#include "header.h"

const size_t kTransferSize = 65536;

struct TarWriter {
  ByteSink fileSink;      // the sink when bytes go to the file unchanged
  ByteSink* sink;         // where bytes go
  PfFile* file;           // the file written, for what only a file does
  unsigned char* buffer;  // kTransferSize bytes, taken when first needed
};

// A writer of `file`, which stays the caller's to close.
void StartTarWriter(TarWriter* w, PfFile* file);
// Lets the transfer buffer go.
void EndTarWriter(TarWriter* w);
// The transfer buffer; null when there is no memory for it.
unsigned char* TransferBuffer(TarWriter* w);

// Writes the header block for an item of the given status, after the
// entries that carry its whole name and link target when needed. False for
// a negative size or a text that cannot be carried whole (nothing is
// written then), or when something was written short.
bool WriteTarHeader(TarWriter* w, const PfFileStatus& status, const MemberHead& head);

// Two zero blocks after the last member; false when written short.
bool WriteEndMarker(TarWriter* w);

// Zero padding after `size` bytes of data; false when written short.
bool WritePadding(TarWriter* w, int64_t size);
