#include "fixture.h"

std::vector<std::string> Recorder::events;
std::vector<int> Recorder::progressAnswers;
std::vector<int> Recorder::replaceAnswers;
std::vector<FindRecord> Recorder::replaceQueries;
std::vector<FindRecord> Recorder::replaceFound;

void Recorder::Reset() {
  events.clear();
  progressAnswers.clear();
  replaceAnswers.clear();
  replaceQueries.clear();
  replaceFound.clear();
}

int32_t Recorder::Signal(int32_t user, int32_t low, int32_t high, int32_t kind) {
  events.push_back("signal " + std::to_string(user) + " " + std::to_string(low) + " " +
                   std::to_string(high) + " " + std::to_string(kind));
  return 0;
}

int32_t Recorder::FileName(int32_t user, const char* source, const char* dest) {
  events.push_back("name " + std::to_string(user) + " " + source + " | " + dest);
  return 0;
}

int32_t Recorder::Progress(int32_t user, int32_t percent, int32_t delta) {
  events.push_back("progress " + std::to_string(user) + " " + std::to_string(percent) +
                   " " + std::to_string(delta));
  if (progressAnswers.empty()) return 1;
  int answer = progressAnswers.front();
  progressAnswers.erase(progressAnswers.begin());
  return answer;
}

static int32_t NextReplaceAnswer() {
  if (Recorder::replaceAnswers.empty()) return 0;
  int answer = Recorder::replaceAnswers.front();
  Recorder::replaceAnswers.erase(Recorder::replaceAnswers.begin());
  return answer;
}

int32_t Recorder::ReplaceOnExtract(int32_t user, const void* existing, const void* query) {
  replaceFound.push_back(*static_cast<const FindRecord*>(existing));
  replaceQueries.push_back(*static_cast<const FindRecord*>(query));
  events.push_back("replace " + std::to_string(user) + " " +
                   static_cast<const FindRecord*>(query)->fileName);
  return NextReplaceAnswer();
}

int32_t Recorder::ReplaceOnUpdate(int32_t user, const void* query, const void* found) {
  replaceQueries.push_back(*static_cast<const FindRecord*>(query));
  replaceFound.push_back(*static_cast<const FindRecord*>(found));
  events.push_back("replace " + std::to_string(user) + " " +
                   static_cast<const FindRecord*>(query)->fileName);
  return NextReplaceAnswer();
}

void ModuleTest::SetUp() {
  Recorder::Reset();
  ASSERT_TRUE(LoadModule(&m));
  dir = MakeTempDir();
}

void ModuleTest::TearDown() {
  for (FileMaskList* list : lists) {
    if (m.handle != nullptr) m.DoneFileMaskList(list);
    delete list;
  }
  lists.clear();
  UnloadModule(&m);
  RemoveTree(dir);
}

FileMaskList ModuleTest::Masks(std::initializer_list<const char*> masks) {
  FileMaskList* list = new FileMaskList;
  lists.push_back(list);
  m.InitFileMaskList(list);
  for (const char* mask : masks) EXPECT_EQ(1, m.AppendFileMask(mask, list)) << mask;
  return *list;
}

FileMaskList* ModuleTest::MaskList(const std::vector<std::string>& masks) {
  FileMaskList* list = new FileMaskList;
  lists.push_back(list);
  m.InitFileMaskList(list);
  for (const std::string& mask : masks) EXPECT_EQ(1, m.AppendFileMask(mask.c_str(), list)) << mask;
  return list;
}

void ModuleTest::OpenArchive(const std::string& name) {
  m.InitArcFile(Mod(name).c_str());
}

void ModuleTest::OpenBytes(const std::string& name, const std::string& bytes) {
  WriteFile(Path(name), bytes);
  OpenArchive(name);
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
}

void ModuleTest::RegisterRecorder(bool extracting) {
  m.SetSetSignalProc(11, Recorder::Signal);
  m.SetSetFileNameProc(22, Recorder::FileName);
  m.SetSetProgressProc(33, Recorder::Progress);
  m.SetOkToReplaceProc(44, extracting ? Recorder::ReplaceOnExtract : Recorder::ReplaceOnUpdate);
}

std::vector<std::string> ModuleTest::List(std::initializer_list<const char*> masks) {
  FileMaskList list = Masks(masks);
  ArcFileList files;
  m.InitArcFileList(&files);
  m.BuildArcFileList(&files, &list);
  std::vector<std::string> names;
  for (ArcFileEntry* e = files.head; e != nullptr; e = e->next) names.push_back(e->name);
  m.DoneArcFileList(&files);
  return names;
}

std::vector<std::string> ModuleTest::NameEvents() const {
  std::vector<std::string> names;
  for (const std::string& e : Recorder::events) {
    if (e.rfind("name ", 0) == 0) names.push_back(e);
  }
  return names;
}
