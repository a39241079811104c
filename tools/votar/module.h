// The module as votar sees it: the exports it binds at run time, status
// codes in words, and a mask list that frees itself.
#pragma once

#include <string>
#include <vector>

#include "../../src/votar.h"

// The exports votar uses, listed once for the table and for its binding.
#define VOTAR_APIS(X)                                                          \
  X(GetArchiveStatus) X(SetArchiveStatus) X(InitArcFile) X(CreateArcFile)      \
  X(DoneArcFile) X(SetSetSignalProc) X(SetSetFileNameProc)                     \
  X(SetSetProgressProc) X(SetOkToReplaceProc) X(SetDecompExtraFeatures)        \
  X(SetCompExtraFeatures) X(InitFileMaskList) X(AppendFileMask)                \
  X(DoneFileMaskList) X(BuildArcFileList) X(InitArcFileList)                   \
  X(DoneArcFileList) X(GetExtraInfoArc) X(ExtractFileMaskListArc)              \
  X(CompressFileMaskListArc) X(DeleteFileMaskListArc)

struct Api {
#define VOTAR_API_SLOT(name) decltype(&::name) name;
  VOTAR_APIS(VOTAR_API_SLOT)
#undef VOTAR_API_SLOT
};
extern Api api;

// Loads the module beside the program, or the one VOTAR_MODULE names, and
// binds every export; false with `error` set when one is missing.
bool LoadApi(std::string* error);

// What a status means, in words a user can act on.
const char* StatusWords(unsigned status);

// The longest name or mask, in bytes of its ANSI form, that the module takes.
const size_t kLongestName = 255;

// A mask list that the module builds and frees.
struct MaskList {
  FileMaskList list;
  MaskList() { api.InitFileMaskList(&list); }
  ~MaskList() { api.DoneFileMaskList(&list); }
  MaskList(const MaskList&) = delete;
  MaskList& operator=(const MaskList&) = delete;
  // False when the module cannot take the mask whole: it would cut one
  // longer than a name can be, and match other names.
  bool Add(const std::string& mask) {
    return mask.size() <= kLongestName && api.AppendFileMask(mask.c_str(), &list) == 1;
  }
};

// Puts `text` into a settings record at `offset`, in `room` bytes with its
// terminator; the record was zeroed.
void PutSetting(std::vector<unsigned char>* record, size_t offset, size_t room,
                const std::string& text);

// A listing of the current archive: the members that match `masks` (all
// when there are none), in archive order, freed with the object. A damaged
// archive gives StatusFileError with the members before the damage.
struct Listing {
  ArcFileList files;
  unsigned status;
  explicit Listing(const MaskList& masks);
  ~Listing() { api.DoneArcFileList(&files); }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
};
