// The binding of the module: loaded at run time as any host loads it
// (LoadLibraryA/GetProcAddress, or dlopen/dlsym), never linked.
#include "module.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

Api api;

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

bool LoadApi(std::string* error) {
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

const char* StatusWords(unsigned status) {
  switch (status) {
    case StatusOk: return "done";
    case StatusArchiveNotFound: return "no such archive";
    case StatusFileError: return "a file could not be read or written";
    case StatusOutOfMemory: return "out of memory";
    case StatusWriteError: return "a write failed (is the disk full?)";
    case StatusUserAbort: return "stopped";
    case StatusNoEntries: return "no member matches";
    case StatusNothingToAdd: return "nothing to add: only folders were named";
    case StatusEmptyRequest: return "nothing was named";
    case StatusNotTarArchive: return "not a TAR archive";
    case StatusNotSupported: return "not supported by the module";
    default: return "the module failed for a reason votar does not know";
  }
}

void PutSetting(std::vector<unsigned char>* record, size_t offset, size_t room,
                const std::string& text) {
  size_t n = std::min(text.size(), room - 1);
  memcpy(record->data() + offset, text.data(), n);
}

Listing::Listing(const MaskList& masks) {
  api.InitArcFileList(&files);
  api.BuildArcFileList(&files, &masks.list);
  status = api.GetArchiveStatus();
}
