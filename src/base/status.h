// The archive status: the one channel through which the module reports the
// outcome of everything the host asks of it, and the stop requests. Only the
// operations and the exports set it; the layers below answer an Outcome.
#pragma once

#include <atomic>
#include <cstdint>

#include "../votar.h"

// Atomic, so that the host may read and set it from a signal handler or
// another thread while an operation runs.
extern std::atomic<uint16_t> gArchiveStatus;

inline void SetStatus(uint16_t code) { gArchiveStatus = code; }
inline bool StatusIsOk() { return gArchiveStatus == StatusOk; }

// How a step below the operations ended.
enum Outcome : uint8_t {
  kDone,
  kFailed,       // a file could not be opened, read or changed: StatusFileError
  kWriteFailed,  // written short: StatusWriteError
  kOutOfMemory,  // StatusOutOfMemory
  kStopped,      // a stop was asked for: the stop's code
  kHalted,       // the host's answer ended it, and set the status itself
};
// Sets the status an outcome stands for; kDone and kHalted leave it.
void SetStatusFor(Outcome outcome);

// ------------------------------------------------------------ stop requests
// A stop asked for with SetArchiveStatus(StatusUserAbort), or by a call the
// module refuses inside a callback, stays asked for until the next
// operation starts, however often the operation sets the status word
// meanwhile. It carries the code the operation ends with.

// The start of every operation: status StatusOk and no stop pending.
void StartOperation();
// Whether a stop has been asked for. Changes nothing: any layer may ask.
bool StopRequested();
// True, with the stop's code in the status word, when a stop has been
// asked for.
bool CheckForStop();
// A stop asked for by the host: StatusUserAbort, unless a refused call has
// asked already. Safe in a signal handler.
void RequestUserStop();
// Asks the operation that runs to stop with StatusNotSupported, and sets
// that status now.
void StopAsRefused();
// Whether a refused call has asked the running operation to stop.
bool StoppedAsRefused();
