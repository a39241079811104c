#include "options.h"

#include <cstdio>

#include "console.h"

#ifndef VOTAR_VERSION
#define VOTAR_VERSION "unknown"
#endif

static const char kMasks[] =
    "Masks pick members by name (quote them, so that the shell leaves them be):\n"
    "  *.*        every name\n"
    "  *          only names without an extension, such as README\n"
    "  *.txt      names ending in .txt, in every folder\n"
    "  docs\\*.*   everything below the folder docs (docs/*.* is the same)\n"
    "A mask without a folder matches in every folder; one with a folder matches\n"
    "from the top. ? stands for any one character. Case is ignored.\n";

static const char kExisting[] =
    "Without -y or -n, each existing one is asked about on a terminal\n"
    "(yes/no/all/quit). Without a terminal it is kept and named in a warning,\n"
    "and votar exits with 1.\n";

static const char kUsage[] =
    "usage: votar COMMAND ARCHIVE [ARGS...] [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  add, a      ARCHIVE ITEM...     add files, and folders with all they hold,\n"
    "                                  under their paths as given\n"
    "  list, l     ARCHIVE [MASK...]   list members (all when no mask is given)\n"
    "  extract, x  ARCHIVE [MASK...]   extract members\n"
    "  delete, d   ARCHIVE MASK...     delete members\n"
    "\n"
    "Exit status: 0 done; 1 failed, or existing files kept without a terminal;\n"
    "2 wrong usage; 128 and the signal's number when stopped (130 Ctrl-C,\n"
    "143 SIGTERM, 129 SIGHUP; on Windows 130 Ctrl-C or Ctrl-Break, 129 the\n"
    "console closed).\n"
    "\n"
    "'votar help COMMAND' or 'votar COMMAND --help' tells a command's options;\n"
    "'votar --version' prints the version. '--' ends the options.\n";

#ifdef _WIN32
static const char kNames[] =
    "Names reach the module in the ANSI code page: UTF-8 from Windows 10\n"
    "version 1903 on, else the system's code page, where a name that has no form\n"
    "is refused. --utf8, taken by every command, insists on UTF-8.\n";
static const char kUtf8[] = "--utf8 (every command): fail unless names are in UTF-8.\n";
#else
static const char kNames[] =
    "Names reach the module in UTF-8 when the locale's character set is UTF-8,\n"
    "else in Windows-1252, where a name that has no form is refused. --utf8,\n"
    "taken by every command, asks for UTF-8 whatever the locale.\n";
static const char kUtf8[] = "--utf8 (every command): names in UTF-8 whatever the locale.\n";
#endif

#ifdef _WIN32
static const char kLinks[] =
    "Folders are stored as well, empty ones too. A link to a file is stored as\n"
    "the file it points to; a link to a folder is not followed. FIFOs, sockets\n"
    "and devices in folders are passed over.\n";
#else
static const char kLinks[] =
    "Folders are stored as well, empty ones too. A symbolic link is stored as a\n"
    "link, whatever it points to, and never followed; a second name of a file\n"
    "stored before it is stored as a hard link. FIFOs, sockets and devices in\n"
    "folders are passed over.\n";
#endif

static void PrintCommandHelp(const std::string& command) {
  if (command == "add") {
    PrintF(stdout, "usage: votar add ARCHIVE ITEM... [options]\n"
                   "Adds files, and folders with all they hold, each under its path as given:\n"
                   "docs/a.txt is stored as docs\\a.txt. Makes the archive when there is none,\n"
                   "or when an empty file has its name.\n"
                   "  --root DIR   the items are paths below DIR, which is not stored\n"
                   "  --flat       store file names alone, without their folders\n"
                   "  --base NAME  store every member below the folder NAME (not with --flat)\n"
                   "  -y           replace existing members without asking\n"
                   "  -n           keep existing members without asking\n"
                   "  -v           name each file as it is added\n"
                   "%s%s%s", kLinks, kExisting, kUtf8);
  } else if (command == "list") {
    PrintF(stdout, "usage: votar list ARCHIVE [MASK...] [--json]\n"
                   "  --json   print the listing as JSON\n"
                   "Exits with 1 when the masks match nothing; an archive without members\n"
                   "lists as empty.\n%s%s", kMasks, kUtf8);
  } else if (command == "extract") {
    PrintF(stdout, "usage: votar extract ARCHIVE [MASK...] [options]\n"
                   "  -o DIR              extract below DIR (default: the current folder)\n"
                   "  --paths full        keep the stored folders (default)\n"
                   "  --paths none        file names alone, no folders\n"
                   "  --paths below=BASE  keep the folders below BASE, cutting BASE off\n"
                   "  -y                  overwrite existing files without asking\n"
                   "  -n                  keep existing files without asking\n"
                   "  -v                  name each file as it is written\n"
                   "%sA member whose name would lead out of DIR is not extracted, and named.\n%s%s",
                   kExisting, kMasks, kUtf8);
  } else {
    PrintF(stdout, "usage: votar delete ARCHIVE MASK... [-v]\n"
                   "  -v   name each member as it is deleted\n%s%s", kMasks, kUtf8);
  }
}

static std::string CanonicalCommand(const std::string& word) {
  if (word == "list" || word == "l") return "list";
  if (word == "extract" || word == "x") return "extract";
  if (word == "add" || word == "a") return "add";
  if (word == "delete" || word == "d") return "delete";
  return "";
}

static int Usage(const std::string& message) {
  PrintF(stderr, "votar: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// The words that come before a command: help, the version.
static int ParseLeading(const std::vector<std::string>& args) {
  const std::string& first = args[0];
  if (first == "--version") {
    PrintF(stdout, "votar %s\n", VOTAR_VERSION);
    return 0;
  }
  if (first != "--help" && first != "-h" && first != "help") return -1;
  if (args.size() < 2) {
    PrintF(stdout, "%s\n%s%s", kUsage, kNames, kMasks);
    return 0;
  }
  std::string command = CanonicalCommand(args[1]);
  if (command.empty()) return Usage("no help on '" + args[1] + "': it is not a command");
  PrintCommandHelp(command);
  return 0;
}

static int ParsePathMode(const std::string& mode, Options* o) {
  if (mode == "none") {
    o->pathMode = 0;
  } else if (mode == "full") {
    o->pathMode = 2;
  } else if (mode.compare(0, 6, "below=") == 0 && mode.size() > 6) {
    o->pathMode = 1;
    o->base = mode.substr(6);
  } else {
    return Usage("--paths takes none, full or below=BASE");
  }
  return -1;
}

// One option at args[*i]; takes its value from the next word. Answers -1
// when it was taken, else the exit status of a usage error.
static int ParseOption(const std::vector<std::string>& args, size_t* i, Options* o) {
  const std::string& a = args[*i];
  const std::string& c = o->command;
  bool next = *i + 1 < args.size();
  const std::string& value = next ? args[*i + 1] : a;
  bool overwrites = c == "add" || c == "extract";
  if (a == "--utf8") {
    o->utf8 = true;
  } else if (a == "-v" || a == "--verbose") {
    o->verbose = true;
  } else if (a == "-y" && overwrites) {
    o->overwrite = kAll;
  } else if (a == "-n" && overwrites) {
    o->overwrite = kNone;
  } else if (a == "--json" && c == "list") {
    o->json = true;
  } else if (a == "--flat" && c == "add") {
    o->flat = true;
  } else if (a == "--paths" && c == "add") {
    // Stored paths are the default; the word stays for scripts that use it.
  } else if (((a == "-o" || a == "--paths") && c == "extract") ||
             ((a == "--root" || a == "--base") && c == "add")) {
    if (!next) return Usage(a + " needs a value");
    ++*i;
    if (a == "-o") o->outputDir = value;
    if (a == "--root") o->root = value;
    if (a == "--base") o->base = value;
    if (a == "--paths") return ParsePathMode(value, o);
  } else {
    return Usage("unknown option '" + a + "' for " + c);
  }
  return -1;
}

int ParseArgs(const std::vector<std::string>& args, Options* o) {
  if (args.empty()) return Usage("no command given");
  int leading = ParseLeading(args);
  if (leading >= 0) return leading;
  o->command = CanonicalCommand(args[0]);
  if (o->command.empty()) return Usage("unknown command '" + args[0] + "'");
  std::vector<std::string> plain;
  bool options = true;
  for (size_t i = 1; i < args.size(); i++) {
    const std::string& a = args[i];
    if (!options || a.size() < 2 || a[0] != '-') {
      plain.push_back(a);
    } else if (a == "--") {
      options = false;
    } else if (a == "--help" || a == "-h") {
      PrintCommandHelp(o->command);
      return 0;
    } else if (int rc = ParseOption(args, &i, o); rc >= 0) {
      return rc;
    }
  }
  if (plain.empty()) return Usage("no archive given");
  o->archive = plain[0];
  o->names.assign(plain.begin() + 1, plain.end());
  if (o->command == "add" && o->names.empty()) return Usage("nothing to add was named");
  if (o->command == "delete" && o->names.empty()) return Usage("no mask given");
  // Names alone have no folder to put below a base.
  if (o->flat && !o->base.empty()) return Usage("--base cannot be used with --flat");
  return -1;
}
