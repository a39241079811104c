// A set of names with a value each, for lookups in time independent of the
// number of names. Used within one operation and freed at its end.
#pragma once

#include <cstddef>
#include <cstdint>

struct NameSlot {
  uint32_t hash;
  int32_t value;
  char* name;  // null: the slot is free
};

struct NameIndex {
  NameSlot* slots;
  size_t capacity;  // a power of two, or 0
  size_t used;
};

// A zero-filled index is an empty one.
void DoneNameIndex(NameIndex* index);

// Adds `name` with `value` unless it is there already (the first value
// stays). False when memory runs out.
bool AddName(NameIndex* index, const char* name, int32_t value);

// The value stored with `name`; when it is not there, it is added with
// `value`, which is answered. -1 when memory runs out. Values are not -1.
int32_t FindOrAddName(NameIndex* index, const char* name, int32_t value);

// The value stored with `name`, or -1.
int32_t FindName(const NameIndex* index, const char* name);

// Names with a text each; the last text put under a name stays. A
// zero-filled table is an empty one.
struct NameTable {
  NameIndex index;  // name -> position in `texts`
  char** texts;
  int32_t count;
  int32_t capacity;
};
bool PutText(NameTable* table, const char* name, const char* text);
const char* GetText(const NameTable* table, const char* name);  // or null
void DoneNameTable(NameTable* table);
