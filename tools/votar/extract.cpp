// votar extract, and the account of what it could not write.
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
         AnsiToUtf8(outcome.named.back()).c_str(), Shown(o.archive).c_str(),
         CutShort(o) ? ", which is cut short" : "");
  }
}

// The selected members that were neither named by the module nor beyond
// where it stopped were refused: names that would lead out of the output
// folder, or that cannot be written at all. Answers how many.
int ReportRefused(const Listing& selected, bool stoppedAtLast) {
  const std::vector<std::string>& named = outcome.named;
  size_t next = 0;
  int refused = 0;
  for (const ArcFileEntry* e = selected.files.head; e != nullptr; e = e->next) {
    if (next < named.size() && named[next] == e->name) {
      next++;
    } else if (stoppedAtLast && next == named.size()) {
      break;  // not reached
    } else if (MakesFile(*e)) {
      Warn("not extracted (unsafe name): '%s'", AnsiToUtf8(e->name).c_str());
      refused++;
    }
  }
  return refused;
}

int ExtractFailed(const Options& o, const MaskList& masks, unsigned status) {
  Listing selected(masks);
  bool stoppedAtLast = StoppedAtLastNamed(status);
  int refused = ReportRefused(selected, stoppedAtLast);
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
