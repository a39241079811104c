#include "entry.h"

#include "../base/pathbuf.h"
#include "../base/status.h"
#include "../platform/platform.h"
#include "../session/current.h"

// Read and written under the lock. While an operation runs only its own
// thread gets past the lock: an export that does comes from one of the
// operation's callbacks.
struct RunningOperation {
  bool running;
  const FileMaskList* list;  // the host's list it works from, or null
};
static RunningOperation gRunning;

static bool Refuse() {
  StopAsRefused();
  PfUnlockModule();
  return false;
}

bool EnterExport(NestedCall nested) {
  PfLockModule();
  if (gRunning.running && nested == kNestedRefused) return Refuse();
  return true;
}

bool EnterRecordExport(const void* record) {
  PfLockModule();
  if (gRunning.running && record != nullptr && record == gRunning.list) return Refuse();
  return true;
}

void LeaveExport() { PfUnlockModule(); }

bool BeginOperation(const FileMaskList* inUse) {
  if (!EnterExport(kNestedRefused)) return false;
  gRunning.running = true;
  gRunning.list = inUse;
  StartOperation();
  FixCurrentFolder();
  FixArchivePath();
  return true;
}

void EndOperation() {
  if (StoppedAsRefused()) SetStatus(StatusNotSupported);
  gRunning.running = false;
  gRunning.list = nullptr;
  LeaveExport();
}
