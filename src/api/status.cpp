// The status word, the option word, and the exports that only answer that
// their operation is not supported.
#include "../base/status.h"

std::atomic<uint16_t> gArchiveStatus{StatusOk};

// Raised by SetArchiveStatus(StatusUserAbort), cleared when an operation
// starts. Lock-free atomics are what a signal handler may touch.
static std::atomic<bool> gStopRequest{false};
static_assert(std::atomic<uint16_t>::is_always_lock_free, "status word");
static_assert(std::atomic<bool>::is_always_lock_free, "stop request");

// Bit 11 is set at load; bit 15 is locked, so it stays 0 for good.
static uint16_t gOptions = 0x0800;
static const uint16_t kLockedOptions = 0x8000;

uint16_t GetArchiveStatus() { return gArchiveStatus; }

// Safe in a signal handler and from another thread. StatusUserAbort also
// asks the operation that runs to stop.
uint16_t SetArchiveStatus(int32_t value) {
  uint16_t code = static_cast<uint16_t>(value);
  if (code == StatusUserAbort) gStopRequest = true;
  gArchiveStatus = code;
  return code;
}

void StartOperation() {
  gStopRequest = false;
  SetStatus(StatusOk);
}

bool CheckForStop() {
  if (!gStopRequest) return false;
  SetStatus(StatusUserAbort);
  return true;
}

static uint16_t UnlockedBits(int32_t bits) {
  return static_cast<uint16_t>(bits & ~kLockedOptions & 0xFFFF);
}

// Sets the unlocked bits asked for; answers the bits it set.
uint16_t arOptionsOn(int32_t bits) {
  uint16_t b = UnlockedBits(bits);
  gOptions = static_cast<uint16_t>(gOptions | b);
  return b;
}

// Clears the unlocked bits asked for; answers the mask it applied.
uint16_t arOptionsOff(int32_t bits) {
  uint16_t mask = static_cast<uint16_t>(~UnlockedBits(bits));
  gOptions = static_cast<uint16_t>(gOptions & mask);
  return mask;
}

// 1 when every one of the low 16 bits asked for is set, locked bits included.
int32_t arOptionsAreOn(int32_t bits) {
  uint16_t b = static_cast<uint16_t>(bits & 0xFFFF);
  return (gOptions & b) == b ? 1 : 0;
}

// Testing, comments, self-extracting and damage-protected archives and
// directories inside the archive are not supported: nine exports share this.
void UnsupportedArc() { gArchiveStatus = StatusNotSupported; }

// Archives are never enciphered: SetCryptKey and SetSetCryptKeyProc.
void IgnoredArc() {}
