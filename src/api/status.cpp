// The status word and the option word: the exports that take no lock.
#include "../base/status.h"

// Bit 11 is set at load; bit 15 is locked, so it stays 0 for good.
static std::atomic<uint16_t> gOptions{0x0800};
static const uint16_t kLockedOptions = 0x8000;

uint16_t GetArchiveStatus() { return gArchiveStatus; }

// Safe in a signal handler and from another thread. StatusUserAbort also
// asks the operation that runs to stop, unless a refused call has asked
// already.
uint16_t SetArchiveStatus(int32_t value) {
  uint16_t code = static_cast<uint16_t>(value);
  if (code == StatusUserAbort) RequestUserStop();
  gArchiveStatus = code;
  return code;
}

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
