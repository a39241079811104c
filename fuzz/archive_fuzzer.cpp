// Fuzzes the module with archives: each input becomes an archive file in a
// fresh folder, which is listed, extracted, updated with a small file and
// pruned by a deletion. Nothing may appear outside the folder's output
// directory but the archive, the file to add and the extracted files, and no
// temporary file may stay. With the first byte odd, the harness puts valid
// checksums into every header-sized block so that the fuzzer reaches the
// fields behind the checksum.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "votar.h"
#include "fuzz_common.h"

static void RunOperations(const std::string& work) {
  std::string archive = ModuleForm(work + "/a.tar");
  InitArcFile(archive.c_str());
  if (GetArchiveStatus() != StatusOk) return;
  FileMaskList all;
  InitFileMaskList(&all);
  ArcFileList list;
  InitArcFileList(&list);
  BuildArcFileList(&list, &all);
  DoneArcFileList(&list);
  unsigned char settings[kDecompSettingsSize] = {};
  int32_t mode = 2;
  memcpy(settings + kDecompPathModeOffset, &mode, sizeof mode);
  std::string out = ModuleForm(work + "/out");
  memcpy(settings + kDecompOutputOffset, out.c_str(), out.size() + 1);
  SetDecompExtraFeatures(settings);
  ExtractFileMaskListArc(&all);
  FileMaskList items;
  InitFileMaskList(&items);
  AppendFileMask(ModuleForm(work + "/add.txt").c_str(), &items);
  CompressFileMaskListArc(&items);
  DoneFileMaskList(&items);
  FileMaskList some;
  InitFileMaskList(&some);
  AppendFileMask("*.txt", &some);
  AppendFileMask("A*", &some);
  DeleteFileMaskListArc(&some);
  DoneFileMaskList(&some);
  DoneArcFile();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string work = MakeWorkDir();
  if (size == 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) FixChecksums(&bytes);
  ClearDir(work);
  WriteBytes(work + "/a.tar", bytes);
  WriteBytes(work + "/add.txt", "added by the fuzzer\n");
  RunOperations(work);
  CheckNothingOutside(work);
  return 0;
}
