// Arrays that grow as items are added: the room for one more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Makes `*items` (holding `count` items in room for `*capacity`) hold one
// more, doubling it when full; false when memory runs out, with the array
// as it was. For plain records only: they are moved byte for byte.
template <typename T>
bool RoomForOneMore(T** items, int32_t count, int32_t* capacity) {
  if (count < *capacity) return true;
  int32_t grown = *capacity == 0 ? 16 : *capacity * 2;
  void* more = realloc(static_cast<void*>(*items), sizeof(T) * static_cast<size_t>(grown));
  if (more == nullptr) return false;
  *items = static_cast<T*>(more);
  *capacity = grown;
  return true;
}
