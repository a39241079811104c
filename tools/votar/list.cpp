// votar list: the members, as text or JSON.
#include <cstdio>

#include "archive.h"
#include "commands.h"
#include "console.h"
#include "disk.h"
#include "names.h"

namespace {

std::string DosTime(uint32_t dos) {
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (dos >> 25),
           (dos >> 21) & 15, (dos >> 16) & 31, (dos >> 11) & 31, (dos >> 5) & 63,
           (dos & 31) * 2);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The summary comes from the module's figures, but for a damaged archive,
// whose figures the module leaves as they were: votar adds up what it got.
struct Summary {
  int count = 0;
  long long total = 0;
  int ratio = 0;
  bool damaged = false;
};

void PrintJson(const Options& o, const ArcFileList& files, const Summary& s) {
  printf("{\"archive\": %s, \"members\": [", JsonString(Shown(o.archive)).c_str());
  const char* sep = "";
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    printf("%s\n  {\"name\": %s, \"size\": %lld, \"time\": \"%s\", \"attributes\": %u}", sep,
           JsonString(AnsiToUtf8(e->name)).c_str(), static_cast<long long>(e->size),
           DosTime(e->dosDateTime).c_str(), e->attributes);
    sep = ",";
  }
  printf("%s], \"count\": %d, \"total\": %lld, \"ratio\": %d%s}\n", files.head ? "\n" : "",
         s.count, s.total, s.ratio, s.damaged ? ", \"damaged\": true" : "");
}

void PrintListing(const Options& o, const ArcFileList& files, const Summary& s) {
  if (o.json) return PrintJson(o, files, s);
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    printf("%c%c %12lld  %s  %s\n", (e->attributes & 0x10) ? 'd' : '-',
           (e->attributes & 0x01) ? 'r' : 'w', static_cast<long long>(e->size),
           DosTime(e->dosDateTime).c_str(), AnsiToUtf8(e->name).c_str());
  }
  if (s.damaged) return;
  printf("%d member%s, %lld bytes, ratio %d%%\n", s.count, s.count == 1 ? "" : "s", s.total,
         s.ratio);
}

Summary FromModule() {
  ArchiveInfo info;
  api.GetExtraInfoArc(&info);
  Summary s;
  s.count = info.entryCount;
  s.total = static_cast<long long>(info.sizeTotal);
  s.ratio = info.ratio;
  return s;
}

Summary AddedUp(const ArcFileList& files) {
  Summary s;
  s.damaged = true;
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    s.count++;
    s.total += static_cast<long long>(e->size);
  }
  return s;
}

// Masks that matched nothing fail, as they do for extract; an archive
// without members lists as empty, as tar lists it.
int ListedNothing(const Options& o) {
  ArcFileList none = {0, nullptr, nullptr};
  PrintListing(o, none, Summary());
  if (o.names.empty()) return 0;
  Warn("no member of '%s' matches %s", Shown(o.archive).c_str(), MaskWords(o.names).c_str());
  return 1;
}

}  // namespace

int List(const Options& o) {
  unsigned status = NameArchive(o);
  if (status == StatusNotTarArchive && IsEmptyFile(o.archive)) return ListedNothing(o);
  if (status != StatusOk) return OpenFailed(o, status);
  MaskList masks;
  if (!BuildMasks(o.names, &masks)) return 1;
  Listing listing(masks);
  if (listing.status == StatusOk) {
    PrintListing(o, listing.files, FromModule());
    return 0;
  }
  if (listing.status == StatusNoEntries) return ListedNothing(o);
  int members = 0;
  if (listing.status == StatusFileError && DamagedAfter(o, &members)) {
    PrintListing(o, listing.files, AddedUp(listing.files));
    Warn("'%s' is damaged after %s", Shown(o.archive).c_str(), Members(members).c_str());
    return 1;
  }
  Warn("cannot list '%s': %s", Shown(o.archive).c_str(), StatusWords(listing.status));
  return 1;
}
