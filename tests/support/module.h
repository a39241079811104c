// Loads the built module as a host does, by name, and calls it through the
// addresses of its exports.
#pragma once

#include <string>

#include "votar.h"

typedef void (*NoArgsProc)();

struct Module {
  void* handle;
#define VOTAR_EXPORT(name) decltype(&::name) name;
#include "exports.inc"
#undef VOTAR_EXPORT
  // The shared bodies, under their exported names.
  NoArgsProc AddDamageProtXionArc, BuildUnDamagedArc, CreateArcSfx2,
      CreateDirectoryArc, CreateExeArc, SetFileCommentsArc, SetMainCommentArc,
      StripDamageProtXionArc, TestArc, SetCryptKey, SetSetCryptKeyProc;
  decltype(&::InitFileMaskList) GetMainCommentArc;
};

// Loads a fresh copy of the module: its state is as at load. Fails the
// current test when the module or an export is missing.
bool LoadModule(Module* m);
void UnloadModule(Module* m);

// The path of the built module file.
std::string ModuleFile();
