// votar extract, and the account of what it could not write.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "archive.h"
#include "commands.h"
#include "console.h"
#include "disk.h"
#include "names.h"

namespace {

void HandSettings(const Options& o) {
  std::vector<unsigned char> settings(kDecompSettingsSize, 0);
  int32_t mode = o.pathMode;
  memcpy(settings.data() + kDecompPathModeOffset, &mode, sizeof mode);
  PutSetting(&settings, kDecompBasePathOffset, kDecompOutputOffset - kDecompBasePathOffset,
             ModuleForm(o.base));
  PutSetting(&settings, kDecompOutputOffset, kDecompSettingsSize - kDecompOutputOffset,
             ModuleForm(o.outputDir.empty() ? "." : o.outputDir));
  api.SetDecompExtraFeatures(settings.data());
}

// Folders and names that end in a separator make no file.
bool MakesFile(const ArcFileEntry& e) {
  size_t n = strlen(e.name);
  return (e.attributes & 0x10) == 0 && n > 0 && e.name[n - 1] != '\\';
}

// Whether the extraction stopped at the last member it named: its file
// could not be made (its copy never began), or its copy failed, which
// leaves no file behind.
bool StoppedAtLastNamed(unsigned status) {
  if (outcome.named.empty() || outcome.lastKept) return false;
  if (!outcome.copied || status == StatusWriteError) return true;
  return !Exists(NativeForm(outcome.destination));
}

void ReportLastFailed(const Options& o, unsigned status) {
  std::string path = DiskShown(outcome.destination);
  if (!outcome.copied) {
    std::string why = WhyUnwritable(NativeForm(outcome.destination));
    Warn("cannot write '%s': %s", path.c_str(), why.empty() ? "it could not be made" : why.c_str());
  } else if (status == StatusWriteError) {
    Warn("cannot write '%s': writing it failed (is the disk full?)", path.c_str());
  } else {
    Warn("cannot extract '%s': its data could not be read from '%s'%s",
         Listed(outcome.named.back().c_str()).c_str(), Shown(o.archive).c_str(),
         CutShort(o) ? ", which is cut short" : "");
  }
}

// Whether a name, as the module lists it, breaks a rule every output name
// must keep: no root, drive, stream or wildcard, no control character, no
// ".." and no part that Windows would shorten ("a.", "b ").
bool LooksUnsafe(const std::string& name) {
  if (name.empty() || name[0] == '\\') return true;
  for (unsigned char c : name) {
    if (c < 0x20 || strchr(":*?<>|\"", c) != nullptr) return true;
  }
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part == ".." || (part != "." && !part.empty() && (part.back() == '.' || part.back() == ' '))) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The length of the output path the module builds for a member.
size_t OutputPathLength(const Options& o, const std::string& name) {
  std::string dir = ModuleForm(o.outputDir.empty() ? "." : o.outputDir);
  size_t length = dir.size() + (dir.empty() || dir.back() == '\\' || dir.back() == ':' ? 0 : 1);
  std::string rest = name;
  if (o.pathMode == 0) {
    size_t last = rest.rfind('\\');
    if (last != std::string::npos) rest = rest.substr(last + 1);
  } else if (o.pathMode == 1) {
    std::string base = ModuleForm(o.base);
    while (!base.empty() && base.back() == '\\') base.pop_back();
    bool below = rest.size() > base.size() && rest[base.size()] == '\\' &&
                 std::equal(base.begin(), base.end(), rest.begin(),
                            [](char a, char b) { return toupper(a) == toupper(b); });
    if (below) rest = rest.substr(base.size() + 1);
  }
  return length + rest.size();
}

// Why the module refused a member, as far as its listed name tells: the
// module cuts a name past 255 bytes to that length and, in a classic code
// page, lists a character without an ANSI form as "_" (a "_" of the name
// itself reads the same); under UTF-8 every name has a form. An output
// path that is too long stops the extraction there (`*stopped`): no member
// after it was named.
const char* WhyRefused(const Options& o, const std::string& name, bool laterNamed,
                       bool* stopped) {
  const char* kTooLong = "its path is longer than 255 bytes";
  *stopped = false;
  if (name.size() >= kLongestName) return kTooLong;
  if (LooksUnsafe(name)) return "unsafe name";
  if (!AnsiIsUtf8() && name.find('_') != std::string::npos) {
    return "its name has no form in the ANSI code page";
  }
  if (!laterNamed && OutputPathLength(o, name) > kLongestName) {
    *stopped = true;
    return kTooLong;
  }
  // Its path passes through a link, it is the archive itself, or it is a
  // link whose target leads out of the output folder or names nothing.
  return "unsafe name or link target";
}

// The selected members that were neither named by the module nor beyond
// where it stopped were refused: names that would lead out of the output
// folder, or that cannot be written at all. So were those named that left
// nothing on the disk (a link that a copy was to stand for, and that named
// no file after all). Answers how many.
int ReportRefused(const Options& o, const Listing& selected, bool stoppedAtLast) {
  const std::vector<std::string>& named = outcome.named;
  size_t next = 0;
  int refused = 0;
  for (const ArcFileEntry* e = selected.files.head; e != nullptr; e = e->next) {
    if (next < named.size() && named[next] == e->name) {
      bool last = next + 1 == named.size();
      if (!(last && stoppedAtLast) && !Exists(NativeForm(outcome.written[next]))) {
        Warn("not extracted (unsafe name or link target): '%s'", Listed(e->name).c_str());
        refused++;
      }
      next++;
    } else if (stoppedAtLast && next == named.size()) {
      break;  // not reached
    } else if (MakesFile(*e)) {
      bool stopped = false;
      const char* why = WhyRefused(o, e->name, next < named.size(), &stopped);
      Warn("not extracted (%s): '%s'%s", why, Listed(e->name).c_str(),
           stopped ? "; extraction stopped there" : "");
      refused++;
      if (stopped) break;
    }
  }
  return refused;
}

int ExtractFailed(const Options& o, const MaskList& masks, unsigned status) {
  Listing selected(masks);
  bool stoppedAtLast = StoppedAtLastNamed(status);
  int refused = ReportRefused(o, selected, stoppedAtLast);
  std::string archive = Shown(o.archive);
  if (stoppedAtLast) ReportLastFailed(o, status);
  int members = 0;
  if (selected.status == StatusFileError && CutShort(o)) {
    if (!stoppedAtLast) Warn("'%s' is cut short: its last member ends past the end of the file", archive.c_str());
  } else if (selected.status == StatusFileError && DamagedAfter(o, &members)) {
    Warn("'%s' is damaged after %s", archive.c_str(), Members(members).c_str());
  } else if (refused == 0 && !stoppedAtLast) {
    Warn("extracting from '%s' failed: %s", archive.c_str(), StatusWords(status));
  }
  return 1;
}

}  // namespace

int Extract(const Options& o) {
  unsigned status = NameArchive(o);
  if (status != StatusOk) return OpenFailed(o, status);
  MaskList masks;
  if (!BuildMasks(o.names, &masks) || !PathsFit(o)) return 1;
  HandSettings(o);
  BeginFeedback(o, kExtracting, 0);
  api.ExtractFileMaskListArc(&masks.list);
  status = api.GetArchiveStatus();
  EndFeedback(status == StatusOk);
  if (int rc = IfStopped(status, "the files extracted so far stay"); rc >= 0) return rc;
  if (status == StatusOk) return KeptUnasked("file", "files");
  if (status == StatusNoEntries) {
    if (o.names.empty()) {
      Warn("'%s' has no members to extract", Shown(o.archive).c_str());
    } else {
      Warn("no member of '%s' matches %s", Shown(o.archive).c_str(), MaskWords(o.names).c_str());
    }
    return 1;
  }
  return ExtractFailed(o, masks, status);
}
