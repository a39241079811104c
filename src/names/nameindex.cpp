#include "nameindex.h"

#include "../base/grow.h"
#include "text.h"

#include <cstdlib>
#include <cstring>

static uint32_t HashOf(const char* name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++) {
    h = (h ^ *p) * 16777619u;
  }
  return h;
}

static void InitNameIndex(NameIndex* index) {
  index->slots = nullptr;
  index->capacity = 0;
  index->used = 0;
}

void DoneNameIndex(NameIndex* index) {
  for (size_t i = 0; i < index->capacity; i++) free(index->slots[i].name);
  free(index->slots);
  InitNameIndex(index);
}

static NameSlot* SlotFor(NameSlot* slots, size_t capacity, uint32_t hash,
                         const char* name) {
  size_t i = hash & (capacity - 1);
  while (slots[i].name != nullptr &&
         !(slots[i].hash == hash && strcmp(slots[i].name, name) == 0)) {
    i = (i + 1) & (capacity - 1);
  }
  return &slots[i];
}

static bool Grow(NameIndex* index) {
  size_t capacity = index->capacity == 0 ? 64 : index->capacity * 2;
  NameSlot* slots = static_cast<NameSlot*>(calloc(capacity, sizeof(NameSlot)));
  if (slots == nullptr) return false;
  for (size_t i = 0; i < index->capacity; i++) {
    NameSlot& old = index->slots[i];
    if (old.name != nullptr) *SlotFor(slots, capacity, old.hash, old.name) = old;
  }
  free(index->slots);
  index->slots = slots;
  index->capacity = capacity;
  return true;
}

int32_t FindOrAddName(NameIndex* index, const char* name, int32_t value) {
  // Kept at most half full, so that probes stay short.
  if ((index->used + 1) * 2 > index->capacity && !Grow(index)) return -1;
  uint32_t hash = HashOf(name);
  NameSlot* slot = SlotFor(index->slots, index->capacity, hash, name);
  if (slot->name != nullptr) return slot->value;
  char* copy = CopyText(name);
  if (copy == nullptr) return -1;
  slot->hash = hash;
  slot->value = value;
  slot->name = copy;
  index->used++;
  return value;
}

bool AddName(NameIndex* index, const char* name, int32_t value) {
  return FindOrAddName(index, name, value) >= 0;
}

int32_t FindName(const NameIndex* index, const char* name) {
  if (index->capacity == 0) return -1;
  uint32_t hash = HashOf(name);
  const NameSlot* slot = SlotFor(index->slots, index->capacity, hash, name);
  return slot->name == nullptr ? -1 : slot->value;
}

bool PutText(NameTable* table, const char* name, const char* text) {
  char* copy = CopyText(text);
  if (copy == nullptr) return false;
  int32_t at = RoomForOneMore(&table->texts, table->count, &table->capacity)
                   ? FindOrAddName(&table->index, name, table->count)
                   : -1;
  if (at < 0) {
    free(copy);
    return false;
  }
  if (at == table->count) {
    table->count++;
  } else {
    free(table->texts[at]);
  }
  table->texts[at] = copy;
  return true;
}

const char* GetText(const NameTable* table, const char* name) {
  int32_t at = FindName(&table->index, name);
  return at < 0 ? nullptr : table->texts[at];
}

void DoneNameTable(NameTable* table) {
  for (int32_t i = 0; i < table->count; i++) free(table->texts[i]);
  free(table->texts);
  DoneNameIndex(&table->index);
  table->texts = nullptr;
  table->count = table->capacity = 0;
}
