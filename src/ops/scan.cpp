// What the operations share of reading the current archive.
#include "../base/status.h"
#include "../session/current.h"
#include "ops.h"

PfFile* OpenArchiveInput() {
  PfFile* input = PfOpenRead(gArchivePath);
  if (input == nullptr) SetStatus(StatusFileError);
  return input;
}

void SetScanStatus(ScanEnd end, int32_t listed) {
  switch (end) {
    case kScanStopped: CheckForStop(); return;
    case kScanOutOfMemory: SetStatus(StatusOutOfMemory); return;
    case kScanDamaged:
    case kScanReadError: SetStatus(StatusFileError); return;
    default: break;
  }
  if (listed == 0) SetStatus(StatusNoEntries);
}
