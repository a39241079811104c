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

static void FixChecksums(std::string* archive) {
  for (size_t pos = 0; pos + 512 <= archive->size(); pos += 512) {
    char* block = &(*archive)[pos];
    memset(block + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < 512; i++) sum += static_cast<unsigned char>(block[i]);
    snprintf(block + 148, 8, "%06o", sum);
    // Jump over the data the size field claims, when it is plausible, so
    // that data blocks keep the fuzzer's bytes.
    unsigned long size = strtoul(std::string(block + 124, 12).c_str(), nullptr, 8);
    if (size < archive->size()) pos += (size + 511) / 512 * 512;
  }
}

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
