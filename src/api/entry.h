// How the exports enter the module: one thread at a time, through one
// module-wide lock, and from inside a callback only for what cannot disturb
// the operation that called it.
#pragma once

#include "../votar.h"

// What a call made from inside a callback may do.
enum NestedCall {
  kNestedAllowed,  // works as at any other time
  kNestedRefused,  // changes nothing and stops the operation
};

// Takes the module lock for an export. False, with the lock let go again,
// when the call comes from inside a callback and is refused there: it then
// sets StatusNotSupported and asks the operation to stop with it.
bool EnterExport(NestedCall nested);
// EnterExport for the exports on a list or record of the host's: refused
// inside a callback only on the list that the running operation works from.
bool EnterRecordExport(const void* record);
void LeaveExport();

// The start of an operation export: EnterExport(kNestedRefused), then
// status StatusOk, no stop pending, and the current folder and the
// archive's absolute path fixed. `inUse` is the host's list it works from.
bool BeginOperation(const FileMaskList* inUse);
// The end of one: a refused call's status stands, whatever the operation
// set after it.
void EndOperation();
