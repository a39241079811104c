// The exports that take the module lock: how each enters the module, what
// it does with a null pointer, and the body it runs. votar.h has them as a
// table; the status and option exports (status.cpp) take no lock.
#include "../base/status.h"
#include "../names/masks.h"
#include "../ops/list.h"
#include "../ops/ops.h"
#include "../session/callbacks.h"
#include "../session/settings.h"
#include "entry.h"

// ---------------------------------------------------------- current archive

void InitArcFile(const char* path) {
  if (!EnterExport(kNestedRefused)) return;
  NameArchive(path);
  LeaveExport();
}

void CreateArcFile(const char* path) {
  if (!EnterExport(kNestedRefused)) return;
  NameNewArchive(path);
  LeaveExport();
}

void DoneArcFile() {
  if (!EnterExport(kNestedRefused)) return;
  ForgetArchive();
  LeaveExport();
}

// --------------------------------------------------- unsupported operations

// Testing, comments, self-extracting and damage-protected archives and
// directories inside the archive are not supported: nine exports share this.
void UnsupportedArc() {
  if (!EnterExport(kNestedRefused)) return;
  SetStatus(StatusNotSupported);
  LeaveExport();
}

// Archives are never enciphered: SetCryptKey and SetSetCryptKeyProc. Nothing
// is read or written, so nothing is locked.
void IgnoredArc() {}

// ------------------------------------------------------------ registrations
// A null procedure registers none.

static void Register(Callback which, int32_t user, void (*proc)()) {
  if (!EnterExport(kNestedAllowed)) return;
  RegisterCallback(which, user, proc);
  LeaveExport();
}

void SetSetSignalProc(int32_t user, SignalProc proc) {
  Register(kSignal, user, reinterpret_cast<void (*)()>(proc));
}
void SetSetWarningProc(int32_t user, StoredProc proc) { Register(kWarning, user, proc); }
void SetGetNextDiskProc(int32_t user, StoredProc proc) { Register(kNextDisk, user, proc); }
void SetSetSfxProgressProc(int32_t user, StoredProc proc) {
  Register(kSfxProgress, user, proc);
}
void SetSetFileNameProc(int32_t user, FileNameProc proc) {
  Register(kFileName, user, reinterpret_cast<void (*)()>(proc));
}
void SetSetProgressProc(int32_t user, ProgressProc proc) {
  Register(kProgress, user, reinterpret_cast<void (*)()>(proc));
}
void SetOkToReplaceProc(int32_t user, ReplaceProc proc) {
  Register(kReplace, user, reinterpret_cast<void (*)()>(proc));
}
void SetSkipFileProc(int32_t user, StoredProc proc) { Register(kSkipFile, user, proc); }

// ----------------------------------------------------------------- settings
// A null leaves every setting as it was.

char* SetOutputPath(const char* path) {
  if (!EnterExport(kNestedRefused)) return gOutputDir;
  char* stored = path != nullptr ? StoreOutputPath(path) : gOutputDir;
  LeaveExport();
  return stored;
}

void SetDecompExtraFeatures(const void* settings) {
  if (!EnterExport(kNestedRefused)) return;
  if (settings != nullptr) StoreDecompSettings(settings);
  LeaveExport();
}

void SetCompExtraFeatures(const void* settings) {
  if (!EnterExport(kNestedRefused)) return;
  if (settings != nullptr) StoreCompSettings(settings);
  LeaveExport();
}

// ------------------------------------------------------ lists and records
// A null list or record is left alone and answered as it came.

template <typename Record, typename Result>
static Record* OnRecord(Record* record, Result (*body)(Record*)) {
  if (record == nullptr || !EnterRecordExport(record)) return record;
  body(record);
  LeaveExport();
  return record;
}

FileMaskList* InitFileMaskList(FileMaskList* list) { return OnRecord(list, InitMaskList); }
void DoneFileMaskList(FileMaskList* list) { OnRecord(list, DoneMaskList); }
ArcFileList* InitArcFileList(ArcFileList* list) { return OnRecord(list, InitFileList); }
void DoneArcFileList(ArcFileList* list) { OnRecord(list, DoneFileList); }
ArchiveInfo* GetExtraInfoArc(ArchiveInfo* info) { return OnRecord(info, CopyArchiveInfo); }

// A null mask or list adds nothing, and says so.
uint8_t AppendFileMask(const char* mask, FileMaskList* list) {
  if (!EnterRecordExport(list)) return 0;
  uint8_t added = 0;
  if (mask == nullptr || list == nullptr) {
    SetStatus(StatusFileError);
  } else {
    added = AppendMask(mask, list);
    if (added == 0) SetStatus(StatusOutOfMemory);
  }
  LeaveExport();
  return added;
}

// ------------------------------------------------------------------ listing

// Nowhere to put the entries fails; null masks select nothing (an empty
// list would select every member).
int32_t BuildArcFileList(ArcFileList* list, const FileMaskList* masks) {
  if (!BeginOperation(masks)) return 0;
  int32_t ratio = 0;
  if (list == nullptr) {
    SetStatus(StatusFileError);
  } else if (masks == nullptr) {
    SetStatus(StatusNoEntries);
  } else {
    ratio = ListArc(list, masks);
  }
  EndOperation();
  return ratio;
}

// --------------------------------------------------------------- operations

// An operation on the host's list; a null list does nothing and ends with
// `nullStatus`.
static void RunOperation(const FileMaskList* list, uint16_t nullStatus,
                         void (*body)(const FileMaskList*)) {
  if (!BeginOperation(list)) return;
  if (list == nullptr) {
    SetStatus(nullStatus);
  } else {
    body(list);
  }
  EndOperation();
}

int32_t ExtractFileMaskListArc(const FileMaskList* masks) {
  RunOperation(masks, StatusNoEntries, ExtractArc);
  return 0;
}

int32_t CompressFileMaskListArc(const FileMaskList* items) {
  RunOperation(items, StatusEmptyRequest, CompressArc);
  return 0;
}

int32_t DeleteFileMaskListArc(const FileMaskList* masks) {
  RunOperation(masks, StatusNoEntries, DeleteArc);
  return 0;
}
