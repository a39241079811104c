// The archive status: the one channel through which the module reports the
// outcome of everything the host asks of it.
#pragma once

#include <cstdint>

#include "../votar.h"

extern uint16_t gArchiveStatus;

inline void SetStatus(uint16_t code) { gArchiveStatus = code; }
inline bool StatusIsOk() { return gArchiveStatus == StatusOk; }
