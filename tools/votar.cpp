// votar: a command-line archiver over the TAR module. It loads the module at
// run time as any host does (LoadLibraryA/GetProcAddress, or dlopen/dlsym),
// and drives it in the host's calling order: name the archive, create it
// when it is new, register callbacks, hand over settings, run one
// operation, read the status, forget the archive.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <dirent.h>
#include <dlfcn.h>
#include <iconv.h>
#include <unistd.h>
#endif

#include "../src/votar.h"

// ------------------------------------------------------------- the module

// The exports votar uses, listed once for the table and for its binding.
#define VOTAR_APIS(X)                                                          \
  X(GetArchiveStatus) X(InitArcFile) X(CreateArcFile) X(DoneArcFile)           \
  X(SetSetSignalProc) X(SetSetFileNameProc) X(SetSetProgressProc)              \
  X(SetOkToReplaceProc) X(SetDecompExtraFeatures) X(SetCompExtraFeatures)      \
  X(InitFileMaskList) X(AppendFileMask) X(DoneFileMaskList) X(BuildArcFileList) \
  X(InitArcFileList) X(DoneArcFileList) X(GetExtraInfoArc)                     \
  X(ExtractFileMaskListArc) X(CompressFileMaskListArc) X(DeleteFileMaskListArc)

struct Api {
#define VOTAR_API_SLOT(name) decltype(&::name) name;
  VOTAR_APIS(VOTAR_API_SLOT)
#undef VOTAR_API_SLOT
};
static Api api;

static std::string ExecutableDir() {
#ifdef _WIN32
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path, n < sizeof path ? n : 0);
#else
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string s(path, n > 0 ? static_cast<size_t>(n) : 0);
#endif
  size_t cut = s.find_last_of("\\/");
  return cut == std::string::npos ? "." : s.substr(0, cut);
}

// The module beside the program, unless VOTAR_MODULE names another.
static bool LoadApi(std::string* error) {
  const char* chosen = getenv("VOTAR_MODULE");
#ifdef _WIN32
  std::string file = chosen ? chosen : ExecutableDir() + "\\VoTar40.dll";
  HMODULE handle = LoadLibraryA(file.c_str());
  auto lookup = [&](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(handle, name));
  };
#else
  std::string file = chosen ? chosen : ExecutableDir() + "/libVoTar40.so";
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto lookup = [&](const char* name) { return dlsym(handle, name); };
#endif
  if (handle == nullptr) {
    *error = "cannot load the module '" + file + "'";
    return false;
  }
  const char* missing = nullptr;
#define VOTAR_API_BIND(name)                                        \
  api.name = reinterpret_cast<decltype(api.name)>(lookup(#name));   \
  if (api.name == nullptr && missing == nullptr) missing = #name;
  VOTAR_APIS(VOTAR_API_BIND)
#undef VOTAR_API_BIND
  if (missing != nullptr) {
    *error = "the module '" + file + "' has no export " + missing;
    return false;
  }
  return true;
}

static const char* StatusText(unsigned status) {
  switch (status) {
    case StatusOk: return "ok";
    case StatusArchiveNotFound: return "archive not found";
    case StatusFileError: return "file error";
    case StatusOutOfMemory: return "out of memory";
    case StatusWriteError: return "write error";
    case StatusUserAbort: return "stopped by the user";
    case StatusNoEntries: return "no matching members";
    case StatusNothingToAdd: return "nothing to add";
    case StatusEmptyRequest: return "nothing was named";
    case StatusNotTarArchive: return "not a TAR archive";
    case StatusNotSupported: return "not supported";
    default: return "unknown status";
  }
}

static int Fail(const std::string& what, unsigned status) {
  fprintf(stderr, "votar: %s: %s (%u)\n", what.c_str(), StatusText(status), status);
  return 1;
}

// The module takes paths with "\" separators, as on Windows.
static std::string ModulePath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Member names are in the module's ANSI code page; terminals and JSON want
// UTF-8.
static std::string ToUtf8(const std::string& ansi) {
#ifdef _WIN32
  int wide = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(wide > 0 ? wide : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &w[0], wide);
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(strlen(out.c_str()));
  return out;
#else
  static iconv_t cd = iconv_open("UTF-8", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) return ansi;
  std::string out(ansi.size() * 3 + 1, '\0');
  char* in = const_cast<char*>(ansi.data());
  size_t inLeft = ansi.size();
  char* outPtr = &out[0];
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      *outPtr++ = '?';  // a byte with no character in the code page
      outLeft--;
      in++;
      inLeft--;
    }
  }
  out.resize(out.size() - outLeft);
  return out;
#endif
}

// --------------------------------------------------------------- options

enum Overwrite { kAsk, kAll, kNone };

struct Options {
  std::string command;
  std::string archive;
  std::vector<std::string> names;  // masks or items
  std::string outputDir;
  int pathMode = 2;  // full paths unless told otherwise
  std::string base;
  std::string root;
  bool storePaths = false;
  Overwrite overwrite = kAsk;
  bool verbose = false;
  bool json = false;
};

static const char kUsage[] =
    "usage: votar COMMAND ARCHIVE [ARGS...] [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  list, l     ARCHIVE [MASK...]   list members (all when no mask is given)\n"
    "  extract, x  ARCHIVE [MASK...]   extract members\n"
    "  add, a      ARCHIVE ITEM...     add files (folders are added with their files);\n"
    "                                  creates the archive when it does not exist\n"
    "  delete, d   ARCHIVE MASK...     delete members\n"
    "\n"
    "Masks use * and ?; *.TXT matches in every folder, docs\\*.* below docs.\n"
    "Run 'votar COMMAND --help' for the options of a command.\n";

static const char* CommandHelp(const std::string& command) {
  if (command == "list") {
    return "usage: votar list ARCHIVE [MASK...] [--json]\n"
           "  --json        print the listing as JSON\n";
  }
  if (command == "extract") {
    return "usage: votar extract ARCHIVE [MASK...] [options]\n"
           "  -o DIR              extract below DIR (default: the current folder)\n"
           "  --paths full        keep the stored folders (default)\n"
           "  --paths none        file names alone, no folders\n"
           "  --paths below=BASE  keep the folders below BASE, cutting BASE off\n"
           "  -y                  overwrite existing files without asking\n"
           "  -n                  never overwrite existing files\n"
           "  -v                  name each file as it is written\n"
           "Without -y or -n an existing file is asked about when a terminal is\n"
           "there (yes/no/all/quit), and kept otherwise.\n";
  }
  if (command == "add") {
    return "usage: votar add ARCHIVE ITEM... [options]\n"
           "  --root DIR   the items are paths below DIR; stored with their paths\n"
           "  --paths      store the items' relative paths (default: names alone)\n"
           "  --base NAME  store every member below the folder NAME\n"
           "  -y / -n      replace existing members without asking / never\n"
           "  -v           name each file as it is added\n";
  }
  if (command == "delete") {
    return "usage: votar delete ARCHIVE MASK... [-v]\n"
           "  -v           name each member as it is deleted\n";
  }
  return nullptr;
}

static std::string CanonicalCommand(const std::string& word) {
  if (word == "list" || word == "l") return "list";
  if (word == "extract" || word == "x") return "extract";
  if (word == "add" || word == "a") return "add";
  if (word == "delete" || word == "d") return "delete";
  return "";
}

static int Usage(const std::string& message) {
  fprintf(stderr, "votar: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Answers 0 to go on, 2 for a usage error, -1 when help was printed.
static int ParseArgs(int argc, char** argv, Options* o) {
  if (argc < 2) return Usage("no command given");
  std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    fputs(kUsage, stdout);
    return -1;
  }
  o->command = CanonicalCommand(first);
  if (o->command.empty()) return Usage("unknown command '" + first + "'");
  std::vector<std::string> plain;
  for (int i = 2; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      fputs(CommandHelp(o->command), stdout);
      return -1;
    } else if (a == "-v" || a == "--verbose") {
      o->verbose = true;
    } else if (a == "-y" && o->command != "list" && o->command != "delete") {
      o->overwrite = kAll;
    } else if (a == "-n" && o->command != "list" && o->command != "delete") {
      o->overwrite = kNone;
    } else if (a == "--json" && o->command == "list") {
      o->json = true;
    } else if (a == "-o" && o->command == "extract") {
      if (!value(&o->outputDir)) return Usage("-o needs a folder");
    } else if (a == "--paths" && o->command == "extract") {
      std::string mode;
      if (!value(&mode)) return Usage("--paths needs none, full or below=BASE");
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
    } else if (a == "--paths" && o->command == "add") {
      o->storePaths = true;
    } else if (a == "--root" && o->command == "add") {
      if (!value(&o->root)) return Usage("--root needs a folder");
      o->storePaths = true;
    } else if (a == "--base" && o->command == "add") {
      if (!value(&o->base)) return Usage("--base needs a name");
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "' for " + o->command);
    } else {
      plain.push_back(a);
    }
  }
  if (plain.empty()) return Usage("no archive given");
  o->archive = plain[0];
  o->names.assign(plain.begin() + 1, plain.end());
  if ((o->command == "add" || o->command == "delete") && o->names.empty()) {
    return Usage(o->command == "add" ? "nothing to add was named" : "no mask given");
  }
  return 0;
}

// ------------------------------------------------------ feedback to people

struct Feedback {
  bool verbose = false;
  bool bar = false;        // standard error is a terminal
  bool counting = false;   // the total counts members, not bytes
  int64_t total = 0;
  int64_t done = 0;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point drawn;
  bool shown = false;
  Overwrite overwrite = kAsk;
  bool adding = false;  // adding names the disk file first, the member second
};
static Feedback feedback;

static std::string Bytes(int64_t n) {
  char text[32];
  if (n < 1024) {
    snprintf(text, sizeof text, "%lld B", static_cast<long long>(n));
  } else if (n < 1024 * 1024) {
    snprintf(text, sizeof text, "%.1f KiB", n / 1024.0);
  } else if (n < 1024LL * 1024 * 1024) {
    snprintf(text, sizeof text, "%.1f MiB", n / (1024.0 * 1024));
  } else {
    snprintf(text, sizeof text, "%.2f GiB", n / (1024.0 * 1024 * 1024));
  }
  return text;
}

static void ClearBar() {
  if (!feedback.shown) return;
  fprintf(stderr, "\r%70s\r", "");
  feedback.shown = false;
}

static void DrawBar(bool force) {
  if (!feedback.bar) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - feedback.drawn < std::chrono::milliseconds(100)) return;
  feedback.drawn = now;
  double seconds = std::chrono::duration<double>(now - feedback.start).count();
  int64_t total = feedback.total > 0 ? feedback.total : 0;
  int percent = total > 0 ? static_cast<int>(std::min<int64_t>(100, feedback.done * 100 / total)) : 0;
  const int width = 24;
  int filled = percent * width / 100;
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), '.') + "]";
  char text[160];
  if (feedback.counting) {
    snprintf(text, sizeof text, "\r%s %3d%%  %lld / %lld members ", line.c_str(), percent,
             static_cast<long long>(feedback.done), static_cast<long long>(total));
  } else {
    double rate = seconds > 0 ? feedback.done / seconds : 0;
    snprintf(text, sizeof text, "\r%s %3d%%  %s / %s  %s/s ", line.c_str(), percent,
             Bytes(feedback.done).c_str(), Bytes(total).c_str(),
             Bytes(static_cast<int64_t>(rate)).c_str());
  }
  fputs(text, stderr);
  fflush(stderr);
  feedback.shown = true;
}

static int32_t OnSignal(int32_t, int32_t low, int32_t high, int32_t kind) {
  feedback.total = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
                                        static_cast<uint32_t>(low));
  feedback.counting = kind == 3;
  return 0;
}

static int32_t OnFileName(int32_t, const char* source, const char* destination) {
  if (!feedback.verbose) return 0;
  ClearBar();
  // Extraction and deletion name the member first; adding names the disk
  // file first and the member second.
  const char* shown = feedback.adding ? destination : source;
  if (shown[0] == '\\') shown++;
  printf("%s\n", ToUtf8(shown).c_str());
  fflush(stdout);
  return 0;
}

static int32_t OnProgress(int32_t, int32_t, int32_t delta) {
  feedback.done += delta;
  DrawBar(false);
  return 1;
}

// yes / no / all / quit on the terminal; "no" when there is none.
static int32_t AskOnTerminal(const char* name) {
  if (!isatty(fileno(stdin)) || !isatty(fileno(stderr))) return 1;
  ClearBar();
  for (;;) {
    fprintf(stderr, "votar: replace '%s'? [y]es, [n]o, [a]ll, [q]uit: ", ToUtf8(name).c_str());
    fflush(stderr);
    char line[64];
    if (fgets(line, sizeof line, stdin) == nullptr) return 1;
    switch (line[0]) {
      case 'y': case 'Y': return 0;
      case 'n': case 'N': case '\n': return 1;
      case 'a': case 'A': feedback.overwrite = kAll; return 0;
      case 'q': case 'Q': return 2;
      default: break;
    }
  }
}

static int32_t OnReplace(int32_t, const void* first, const void* second) {
  if (feedback.overwrite == kAll) return 0;
  if (feedback.overwrite == kNone) return 1;
  // An update describes the member first, extraction second.
  const FindRecord* member = static_cast<const FindRecord*>(feedback.adding ? first : second);
  return AskOnTerminal(member->fileName);
}

static void RegisterFeedback(const Options& o, bool adding) {
  feedback.verbose = o.verbose;
  feedback.overwrite = o.overwrite;
  feedback.bar = isatty(fileno(stderr)) != 0;
  feedback.start = std::chrono::steady_clock::now();
  feedback.adding = adding;
  api.SetSetSignalProc(0, OnSignal);
  api.SetSetFileNameProc(0, OnFileName);
  api.SetSetProgressProc(0, OnProgress);
  api.SetOkToReplaceProc(0, OnReplace);
}

// ------------------------------------------------------------- commands

struct MaskList {
  FileMaskList list;
  MaskList() { api.InitFileMaskList(&list); }
  ~MaskList() { api.DoneFileMaskList(&list); }
  bool Add(const std::string& mask) { return api.AppendFileMask(mask.c_str(), &list) == 1; }
};

static int OpenArchive(const Options& o, bool mayBeNew) {
  std::string path = ModulePath(o.archive);
  api.InitArcFile(path.c_str());
  unsigned status = api.GetArchiveStatus();
  if (status == StatusArchiveNotFound && mayBeNew) {
    api.CreateArcFile(path.c_str());
    status = api.GetArchiveStatus();
  }
  if (status != StatusOk) return Fail("cannot open archive '" + o.archive + "'", status);
  return 0;
}

static std::string DosTime(uint32_t dos) {
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (dos >> 25),
           (dos >> 21) & 15, (dos >> 16) & 31, (dos >> 11) & 31, (dos >> 5) & 63,
           (dos & 31) * 2);
  return text;
}

static std::string JsonString(const std::string& text) {
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

static void PrintListing(const Options& o, const ArcFileList& files, const ArchiveInfo& info) {
  if (o.json) {
    printf("{\"archive\": %s, \"members\": [", JsonString(ToUtf8(o.archive)).c_str());
    const char* sep = "";
    for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
      printf("%s\n  {\"name\": %s, \"size\": %lld, \"time\": \"%s\", \"attributes\": %u}", sep,
             JsonString(ToUtf8(e->name)).c_str(), static_cast<long long>(e->size),
             DosTime(e->dosDateTime).c_str(), e->attributes);
      sep = ",";
    }
    printf("%s], \"count\": %d, \"total\": %lld, \"ratio\": %d}\n", files.head ? "\n" : "",
           info.entryCount, static_cast<long long>(info.sizeTotal), info.ratio);
    return;
  }
  for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
    printf("%c%c %12lld  %s  %s\n", (e->attributes & 0x10) ? 'd' : '-',
           (e->attributes & 0x01) ? 'r' : 'w', static_cast<long long>(e->size),
           DosTime(e->dosDateTime).c_str(), ToUtf8(e->name).c_str());
  }
  printf("%d member%s, %lld bytes, ratio %d%%\n", info.entryCount,
         info.entryCount == 1 ? "" : "s", static_cast<long long>(info.sizeTotal), info.ratio);
}

static int List(const Options& o) {
  if (int rc = OpenArchive(o, false)) return rc;
  MaskList masks;
  for (const std::string& m : o.names) masks.Add(m);
  ArcFileList files;
  api.InitArcFileList(&files);
  api.BuildArcFileList(&files, &masks.list);
  unsigned status = api.GetArchiveStatus();
  ArchiveInfo info;
  memset(&info, 0, sizeof info);
  // An archive without members, or masks that match none, list as empty.
  if (status == StatusOk) api.GetExtraInfoArc(&info);
  if (status == StatusOk || status == StatusNoEntries) PrintListing(o, files, info);
  api.DoneArcFileList(&files);
  api.DoneArcFile();
  if (status != StatusOk && status != StatusNoEntries) return Fail("cannot list '" + o.archive + "'", status);
  return 0;
}

static void PutString(std::vector<unsigned char>* record, size_t offset, size_t room,
                      const std::string& text) {
  size_t n = std::min(text.size(), room - 1);
  memcpy(record->data() + offset, text.data(), n);
}

static int Extract(const Options& o) {
  if (int rc = OpenArchive(o, false)) return rc;
  RegisterFeedback(o, false);
  std::vector<unsigned char> settings(kDecompSettingsSize, 0);
  int32_t mode = o.pathMode;
  memcpy(settings.data() + kDecompPathModeOffset, &mode, sizeof mode);
  PutString(&settings, kDecompBasePathOffset, kDecompOutputOffset - kDecompBasePathOffset,
            ModulePath(o.base));
  std::string out = o.outputDir.empty() ? "." : o.outputDir;
  PutString(&settings, kDecompOutputOffset, kDecompSettingsSize - kDecompOutputOffset,
            ModulePath(out));
  api.SetDecompExtraFeatures(settings.data());
  MaskList masks;
  for (const std::string& m : o.names) masks.Add(m);
  api.ExtractFileMaskListArc(&masks.list);
  unsigned status = api.GetArchiveStatus();
  ClearBar();
  api.DoneArcFile();
  if (status != StatusOk) return Fail("extracting from '" + o.archive + "'", status);
  return 0;
}

static bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

struct DiskItem {
  std::string path;  // as the module is to be given it
  int64_t size;
};

// Size of a file, or -1 for a folder (or nothing).
static int64_t SizeOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || (st.st_mode & S_IFMT) == S_IFDIR) return -1;
  return static_cast<int64_t>(st.st_size);
}

// The files below a folder, sorted, as paths relative to the same place as
// `path` is. Sizes only feed the progress bar: without `sizes` a file whose
// kind the folder listing gives is not looked up again, and its size is 0.
static void CollectFiles(const std::string& disk, const std::string& path, bool sizes,
                         std::vector<DiskItem>* files) {
  struct Entry {
    std::string name;
    bool folder;
    int64_t size;
  };
  std::vector<Entry> entries;
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((disk + "\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      int64_t size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      entries.push_back({found.cFileName, folder, size});
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
#else
  if (DIR* d = opendir(disk.c_str())) {
    while (dirent* e = readdir(d)) {
      int64_t size = -1;
      if (e->d_type == DT_REG && !sizes) {
        size = 0;
      } else if (e->d_type != DT_DIR) {
        size = SizeOf(disk + "/" + e->d_name);  // links and unknown kinds are followed
      }
      entries.push_back({e->d_name, size < 0, size});
    }
    closedir(d);
  }
#endif
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (const Entry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    if (e.folder) {
      CollectFiles(disk + "/" + e.name, path + "/" + e.name, sizes, files);
    } else {
      files->push_back({path + "/" + e.name, e.size});
    }
  }
}

// The module puts a backslash after an add-root path only when it is longer
// than three characters (so that C:\ stays C:\): a shorter one gets its
// own here.
static std::string AddRootPath(const std::string& root) {
  std::string path = ModulePath(root);
  if (path.empty() || path.size() > 3) return path;
  char last = path.back();
  return last == '\\' || last == ':' ? path : path + "\\";
}

static int Add(const Options& o) {
  bool sizes = isatty(fileno(stderr)) != 0;  // for the progress bar
  std::vector<DiskItem> items;
  for (const std::string& item : o.names) {
    std::string disk = o.root.empty() ? item : o.root + "/" + item;
    int64_t size = SizeOf(disk);
    if (size < 0 && PathExists(disk)) {
      CollectFiles(disk, item, sizes, &items);
    } else {
      items.push_back({item, size});  // a missing file is the module's to report
    }
  }
  int64_t total = 0;
  for (const DiskItem& item : items) total += item.size > 0 ? item.size : 0;
  if (int rc = OpenArchive(o, true)) return rc;
  RegisterFeedback(o, true);
  feedback.total = total;
  std::vector<unsigned char> settings(kCompAddRootOffset + 320, 0);
  int32_t storePaths = o.storePaths ? 1 : 0;
  memcpy(settings.data() + kCompStorePathsOffset, &storePaths, sizeof storePaths);
  PutString(&settings, kCompBasePathOffset, kCompAddRootOffset - kCompBasePathOffset,
            ModulePath(o.base));
  PutString(&settings, kCompAddRootOffset, 261, AddRootPath(o.root));
  api.SetCompExtraFeatures(settings.data());
  MaskList list;
  for (const DiskItem& item : items) {
    if (item.path.size() > 255 || !list.Add(ModulePath(item.path))) {
      api.DoneArcFile();
      fprintf(stderr, "votar: cannot name '%s' to the module (too long)\n", item.path.c_str());
      return 1;
    }
  }
  api.CompressFileMaskListArc(&list.list);
  unsigned status = api.GetArchiveStatus();
  ClearBar();
  api.DoneArcFile();
  if (status != StatusOk) return Fail("adding to '" + o.archive + "'", status);
  return 0;
}

static int Delete(const Options& o) {
  if (int rc = OpenArchive(o, false)) return rc;
  RegisterFeedback(o, false);
  MaskList masks;
  for (const std::string& m : o.names) masks.Add(m);
  api.DeleteFileMaskListArc(&masks.list);
  unsigned status = api.GetArchiveStatus();
  ClearBar();
  api.DoneArcFile();
  if (status != StatusOk) return Fail("deleting from '" + o.archive + "'", status);
  return 0;
}

int main(int argc, char** argv) {
#ifdef _WIN32
  // The same bytes as the native program: "\n" line ends, for scripts.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Options o;
  int parsed = ParseArgs(argc, argv, &o);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  std::string error;
  if (!LoadApi(&error)) {
    fprintf(stderr, "votar: %s\n", error.c_str());
    return 1;
  }
  if (o.command == "list") return List(o);
  if (o.command == "extract") return Extract(o);
  if (o.command == "add") return Add(o);
  return Delete(o);
}
