#include "status.h"

std::atomic<uint16_t> gArchiveStatus{StatusOk};

// The code a stop asked for ends the operation with, 0 when none is asked
// for; cleared when an operation starts. Lock-free atomics are what a
// signal handler may touch, and what another thread of the host reads and
// sets without waiting for the operation.
static std::atomic<uint16_t> gStopCode{0};
static_assert(std::atomic<uint16_t>::is_always_lock_free, "status word");

void SetStatusFor(Outcome outcome) {
  switch (outcome) {
    case kFailed: SetStatus(StatusFileError); break;
    case kWriteFailed: SetStatus(StatusWriteError); break;
    case kOutOfMemory: SetStatus(StatusOutOfMemory); break;
    case kStopped: CheckForStop(); break;
    case kDone:
    case kHalted: break;
  }
}

void StartOperation() {
  gStopCode = 0;
  SetStatus(StatusOk);
}

bool StopRequested() { return gStopCode != 0; }

bool CheckForStop() {
  uint16_t code = gStopCode;
  if (code == 0) return false;
  SetStatus(code);
  return true;
}

void RequestUserStop() {
  uint16_t none = 0;
  gStopCode.compare_exchange_strong(none, StatusUserAbort);
}

void StopAsRefused() {
  gStopCode = StatusNotSupported;
  SetStatus(StatusNotSupported);
}

bool StoppedAsRefused() { return gStopCode == StatusNotSupported; }
