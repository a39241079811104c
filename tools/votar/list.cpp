// votar list: the members, as text or JSON.
#include <cstdio>

#include "archive.h"
#include "commands.h"
#include "console.h"
#include "disk.h"
#include "names.h"

namespace {

// `value` in `width` decimal digits, with leading zeros, or right-aligned
// in `width` places when `pad` is a space.
void PutNumber(unsigned long long value, int width, char pad, std::string* out) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < static_cast<int>(sizeof digits));
  for (int i = n; i < width; i++) *out += pad;
  while (n > 0) *out += digits[--n];
}

// "YYYY-MM-DD hh:mm:ss" of a DOS date and time.
void PutDosTime(uint32_t dos, std::string* out) {
  PutNumber(1980 + (dos >> 25), 4, '0', out);
  *out += '-';
  PutNumber((dos >> 21) & 15, 2, '0', out);
  *out += '-';
  PutNumber((dos >> 16) & 31, 2, '0', out);
  *out += ' ';
  PutNumber((dos >> 11) & 31, 2, '0', out);
  *out += ':';
  PutNumber((dos >> 5) & 63, 2, '0', out);
  *out += ':';
  PutNumber((dos & 31) * 2, 2, '0', out);
}

std::string DosTime(uint32_t dos) {
  std::string text;
  PutDosTime(dos, &text);
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

// Lines go out whole through Print: mingw's printf writes each call
// through, whatever the buffering, one write per line into a pipe.
void Put(const std::string& text) { Print(stdout, text); }

void PrintJson(const Options& o, const ArcFileList& files, const Summary& s) {
  std::string compression = CompressionOf(o.archive);
  Put("{\"archive\": " + JsonString(Shown(o.archive)) + ", \"compression\": " +
      JsonString(compression.empty() ? "none" : compression) + ", \"members\": [");
  const char* sep = "";
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    Put(std::string(sep) + "\n  {\"name\": " + JsonString(AnsiToUtf8(e->name)) +
        ", \"size\": " + std::to_string(e->size) + ", \"time\": \"" +
        DosTime(e->dosDateTime) + "\", \"attributes\": " + std::to_string(e->attributes) + "}");
    sep = ",";
  }
  Put(std::string(files.head ? "\n" : "") + "], \"count\": " + std::to_string(s.count) +
      ", \"total\": " + std::to_string(s.total) + ", \"ratio\": " + std::to_string(s.ratio) +
      (s.damaged ? ", \"damaged\": true" : "") + "}\n");
}

void PrintListing(const Options& o, const ArcFileList& files, const Summary& s) {
  if (o.json) return PrintJson(o, files, s);
  // One line buffer for all members: a listing of many small members is
  // mostly this loop.
  std::string line;
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    line.clear();
    line += (e->attributes & 0x10) ? 'd' : '-';
    line += (e->attributes & 0x01) ? 'r' : 'w';
    line += ' ';
    if (e->size >= 0) {
      PutNumber(static_cast<unsigned long long>(e->size), 12, ' ', &line);
    } else {
      line += std::to_string(e->size);
    }
    line += "  ";
    PutDosTime(e->dosDateTime, &line);
    line += "  ";
    AppendListed(e->name, &line);
    line += '\n';
    Put(line);
  }
  if (s.damaged) return;
  Put(std::to_string(s.count) + (s.count == 1 ? " member, " : " members, ") +
      std::to_string(s.total) + " bytes, ratio " + std::to_string(s.ratio) + "%\n");
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
    if (CutShort(o)) {
      Warn("'%s' is cut short: its last member ends past the end of the file",
           Shown(o.archive).c_str());
    } else {
      Warn("'%s' is damaged after %s", Shown(o.archive).c_str(), Members(members).c_str());
    }
    return 1;
  }
  Warn("cannot list '%s': %s", Shown(o.archive).c_str(), StatusWords(listing.status));
  return 1;
}
