// The status word, stop requests and the option word: the exports that take
// no lock.
#include "../base/status.h"

std::atomic<uint16_t> gArchiveStatus{StatusOk};

// The code a stop asked for ends the operation with, 0 when none is asked
// for; cleared when an operation starts. Lock-free atomics are what a
// signal handler may touch, and what another thread of the host reads and
// sets without waiting for the operation.
static std::atomic<uint16_t> gStopCode{0};
static_assert(std::atomic<uint16_t>::is_always_lock_free, "status word");

// Bit 11 is set at load; bit 15 is locked, so it stays 0 for good.
static std::atomic<uint16_t> gOptions{0x0800};
static const uint16_t kLockedOptions = 0x8000;

uint16_t GetArchiveStatus() { return gArchiveStatus; }

// Safe in a signal handler and from another thread. StatusUserAbort also
// asks the operation that runs to stop, unless a refused call has asked
// already.
uint16_t SetArchiveStatus(int32_t value) {
  uint16_t code = static_cast<uint16_t>(value);
  uint16_t none = 0;
  if (code == StatusUserAbort) gStopCode.compare_exchange_strong(none, code);
  gArchiveStatus = code;
  return code;
}

void StartOperation() {
  gStopCode = 0;
  SetStatus(StatusOk);
}

bool CheckForStop() {
  uint16_t code = gStopCode;
  if (code == 0) return false;
  SetStatus(code);
  return true;
}

void StopAsRefused() {
  gStopCode = StatusNotSupported;
  SetStatus(StatusNotSupported);
}

bool StoppedAsRefused() { return gStopCode == StatusNotSupported; }

static uint16_t UnlockedBits(int32_t bits) {
  return static_cast<uint16_t>(bits & ~kLockedOptions & 0xFFFF);
}

// Sets the unlocked bits asked for; answers the bits it set.
uint16_t arOptionsOn(int32_t bits) {
  uint16_t b = UnlockedBits(bits);
  gOptions.fetch_or(b);
  return b;
}

// Clears the unlocked bits asked for; answers the mask it applied.
uint16_t arOptionsOff(int32_t bits) {
  uint16_t mask = static_cast<uint16_t>(~UnlockedBits(bits));
  gOptions.fetch_and(mask);
  return mask;
}

// 1 when every one of the low 16 bits asked for is set, locked bits included.
int32_t arOptionsAreOn(int32_t bits) {
  uint16_t b = static_cast<uint16_t>(bits & 0xFFFF);
  return (gOptions & b) == b ? 1 : 0;
}
