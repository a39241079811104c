// A fresh module and a fresh folder for each test, and a recorder of the
// host callbacks.
#pragma once

#include <gtest/gtest.h>

#include "codepage.h"

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "files.h"
#include "module.h"

// What the module called back, in order, as text, and the answers to give.
struct Recorder {
  static std::vector<std::string> events;
  static std::vector<int> progressAnswers;  // consumed in order; then 1
  static std::vector<int> replaceAnswers;   // consumed in order; then 0
  static std::vector<FindRecord> replaceQueries;  // ReplaceQuery records seen
  static std::vector<FindRecord> replaceFound;    // disk-file records seen
  static void Reset();
  static int32_t Signal(int32_t user, int32_t low, int32_t high, int32_t kind);
  static int32_t FileName(int32_t user, const char* source, const char* dest);
  static int32_t Progress(int32_t user, int32_t percent, int32_t delta);
  static int32_t ReplaceOnExtract(int32_t user, const void* existing, const void* query);
  static int32_t ReplaceOnUpdate(int32_t user, const void* query, const void* found);
};

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return Join(dir, name); }
  std::string Mod(const std::string& name) const { return ModPath(Path(name)); }

  // Builds a mask list with the module's own exports.
  FileMaskList Masks(std::initializer_list<const char*> masks);
  // The same for masks made at run time; the fixture frees the list.
  FileMaskList* MaskList(const std::vector<std::string>& masks);
  // Names the archive with InitArcFile and registers every recorder.
  void OpenArchive(const std::string& name);
  // Writes `bytes` as the archive `name` and names it; asserts it opened.
  void OpenBytes(const std::string& name, const std::string& bytes);
  void RegisterRecorder(bool extracting);
  // The SetFileNameProc calls recorded so far.
  std::vector<std::string> NameEvents() const;
  // Lists with the given masks; answers the member names in order.
  std::vector<std::string> List(std::initializer_list<const char*> masks = {});

  Module m{};
  std::string dir;
  std::vector<FileMaskList*> lists;
};
