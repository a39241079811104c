// The archive status: the one channel through which the module reports the
// outcome of everything the host asks of it.
#pragma once

#include <atomic>
#include <cstdint>

#include "../votar.h"

// Atomic, so that the host may read and set it from a signal handler or
// another thread while an operation runs.
extern std::atomic<uint16_t> gArchiveStatus;

inline void SetStatus(uint16_t code) { gArchiveStatus = code; }
inline bool StatusIsOk() { return gArchiveStatus == StatusOk; }

// ------------------------------------------------------------ stop requests
// A stop asked for with SetArchiveStatus(StatusUserAbort) stays asked for
// until the next operation starts, however often the operation sets the
// status word meanwhile.

// The start of every operation: status StatusOk and no stop pending.
void StartOperation();
// True, with StatusUserAbort, when a stop has been asked for.
bool CheckForStop();
