#include "entry.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "../base/chain.h"
#include "format.h"

int64_t SpanEnd(const TarEntry& e) { return PaddedSize(e.dataEnd); }

void StartEntryList(TarEntryList* list) {
  list->count = 0;
  list->head = list->tail = nullptr;
}

bool AppendEntry(TarEntryList* list, const TarEntry& work) {
  size_t nameLen = strnlen(work.name, sizeof work.name - 1);
  size_t linkLen = work.link != nullptr ? strnlen(work.link, sizeof work.name - 1) : 0;
  size_t bytes = offsetof(TarEntry, name) + nameLen + 1;
  TarEntry* entry = static_cast<TarEntry*>(malloc(bytes + linkLen + 1));
  if (entry == nullptr) return false;
  memcpy(static_cast<void*>(entry), &work, bytes);
  entry->name[nameLen] = '\0';
  char* link = entry->name + nameLen + 1;
  if (linkLen > 0) memcpy(link, work.link, linkLen);
  link[linkLen] = '\0';
  entry->link = link;
  AppendNode(&list->head, &list->tail, entry);
  if (entry->listed) list->count++;
  return true;
}

void FreeTarEntryList(TarEntryList* list) {
  FreeChain(list->head);
  StartEntryList(list);
}
