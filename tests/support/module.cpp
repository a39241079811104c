#include "module.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

std::string ModuleFile() {
#ifdef _WIN32
  return VOTAR_MODULE_FILE;  // beside the test program, as a host keeps it
#else
  return std::string(VOTAR_MODULE_DIR) + "/" + VOTAR_MODULE_FILE;
#endif
}

static void* OpenLibrary(const std::string& file) {
#ifdef _WIN32
  return reinterpret_cast<void*>(LoadLibraryA(file.c_str()));
#else
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

static void* Lookup(void* handle, const char* name) {
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
  return dlsym(handle, name);
#endif
}

template <typename T>
static bool Bind(void* handle, const char* name, T* slot) {
  void* address = Lookup(handle, name);
  *slot = reinterpret_cast<T>(address);
  if (address == nullptr) ADD_FAILURE() << "export missing: " << name;
  return address != nullptr;
}

bool LoadModule(Module* m) {
  m->handle = OpenLibrary(ModuleFile());
  if (m->handle == nullptr) {
    ADD_FAILURE() << "cannot load " << ModuleFile();
    return false;
  }
  bool ok = true;
#define VOTAR_EXPORT(name) ok = Bind(m->handle, #name, &m->name) && ok;
#include "exports.inc"
#undef VOTAR_EXPORT
  const char* unsupported[] = {"AddDamageProtXionArc", "BuildUnDamagedArc",
                               "CreateArcSfx2", "CreateDirectoryArc", "CreateExeArc",
                               "SetFileCommentsArc", "SetMainCommentArc",
                               "StripDamageProtXionArc", "TestArc"};
  NoArgsProc* slots[] = {&m->AddDamageProtXionArc, &m->BuildUnDamagedArc,
                         &m->CreateArcSfx2, &m->CreateDirectoryArc, &m->CreateExeArc,
                         &m->SetFileCommentsArc, &m->SetMainCommentArc,
                         &m->StripDamageProtXionArc, &m->TestArc};
  for (int i = 0; i < 9; i++) ok = Bind(m->handle, unsupported[i], slots[i]) && ok;
  ok = Bind(m->handle, "SetCryptKey", &m->SetCryptKey) && ok;
  ok = Bind(m->handle, "SetSetCryptKeyProc", &m->SetSetCryptKeyProc) && ok;
  ok = Bind(m->handle, "GetMainCommentArc", &m->GetMainCommentArc) && ok;
  return ok;
}

void UnloadModule(Module* m) {
  if (m->handle == nullptr) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(m->handle));
#else
  dlclose(m->handle);
#endif
  m->handle = nullptr;
}
