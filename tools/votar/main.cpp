// votar: a command-line archiver over the TAR module. It loads the module
// at run time as any host does, and drives it in the host's calling order:
// name the archive, create it when it is new, register callbacks, hand
// over settings, run one operation, read the status, forget the archive.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "names.h"
#include "signals.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

// Every name reaches the module in the ANSI code page; one that has no
// form there would become another name, or none.
static void RefuseUnnamable(const std::string& shown) {
  Warn("'%s' has characters outside the ANSI code page: the module cannot name it",
       shown.c_str());
}

// `args` are native: on Windows in the ANSI code page already, natively as
// Linux handed them over, checked here once the code page is settled.
static int Run(const std::vector<std::string>& args) {
  Options o;
  int parsed = ParseArgs(args, &o);
  if (parsed >= 0) return parsed;
  std::string error;
  if (!SettleCodePage(o.utf8, &error)) {
    Warn("%s", error.c_str());
    return 1;
  }
  for (const std::string& arg : args) {
    std::string ansi;
    if (!ToAnsi(arg, &ansi)) {
      RefuseUnnamable(Shown(arg));
      return 1;
    }
  }
  if (!LoadApi(&error)) {
    Warn("%s", error.c_str());
    return 1;
  }
  CatchStopRequests();
  int rc = o.command == "list"      ? List(o)
           : o.command == "extract" ? Extract(o)
           : o.command == "add"     ? Add(o)
                                    : Delete(o);
  api.DoneArcFile();
  return rc;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The same bytes as the native program: "\n" line ends, for scripts.
  _setmode(_fileno(stdout), _O_BINARY);
  BufferOutput();
  std::vector<std::string> args;
  for (int i = 1; i < argc; i++) {
    std::string ansi;
    if (!WideToAnsi(argv[i], &ansi)) {
      RefuseUnnamable(WideToUtf8(argv[i]));
      return 1;
    }
    args.push_back(ansi);
  }
  int rc = Run(args);
  fflush(stdout);
  StopHandlersDone();
  return rc;
}
#else
int main(int argc, char** argv) {
  BufferOutput();
  return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
