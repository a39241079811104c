// What the commands share: masks, and the endings of an operation.
#include "commands.h"
#include "console.h"
#include "names.h"
#include "signals.h"

bool BuildMasks(const std::vector<std::string>& masks, MaskList* list) {
  for (const std::string& m : masks) {
    if (!list->Add(ModuleForm(m))) {
      Warn("the mask '%s' is longer than a name can be (255 bytes)", Shown(m).c_str());
      return false;
    }
  }
  return true;
}

bool PathsFit(const Options& o) {
  for (const std::string* path : {&o.outputDir, &o.base, &o.root}) {
    if (ModuleForm(*path).size() > kLongestName) {
      Warn("'%s' is longer than a path the module takes (255 bytes)", Shown(*path).c_str());
      return false;
    }
  }
  return true;
}

std::string MaskWords(const std::vector<std::string>& masks) {
  std::string words;
  for (const std::string& m : masks) words += (words.empty() ? "'" : ", '") + Shown(m) + "'";
  return words;
}

int IfStopped(unsigned status, const char* remains) {
  if (!StopRequested() && status != StatusUserAbort) return -1;
  if (status == StatusOk) {
    Warn("stopped, but only once the work was done");
  } else {
    Warn("stopped; %s", remains);
  }
  return StopRequested() ? StopExitStatus() : 1;
}

int KeptUnasked(const char* one, const char* many) {
  if (outcome.kept == 0) return 0;
  const char* them = outcome.kept == 1 ? "it" : "them";
  Warn("%d existing %s kept; -y replaces %s, -n keeps %s quietly", outcome.kept,
       outcome.kept == 1 ? one : many, them, them);
  return 1;
}
