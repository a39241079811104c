// The module's interface as the host sees it: the records it shares with the
// host, the procedures it calls back, and the 41 exports. Every export and
// every callback uses the cdecl convention; in the 32-bit build each record
// has exactly the layout that the host was built against.
#pragma once

#include <cstddef>
#include <cstdint>

// ------------------------------------------------------------ status codes

enum : uint16_t {
  StatusOk = 0,
  StatusArchiveNotFound = 2,
  StatusFileError = 5,
  StatusOutOfMemory = 8,
  StatusWriteError = 101,
  StatusUserAbort = 2926,
  StatusNoEntries = 9906,
  StatusNothingToAdd = 9908,
  StatusEmptyRequest = 9967,
  StatusNotTarArchive = 9972,
  StatusNotSupported = 0x8002,
};

// ----------------------------------------------------------------- records

// One mask of a FileMaskList; allocated and freed by the module.
struct FileMaskEntry {
  char* directory;       // drive and directory, "" or ending in "\" (or "C:")
  char name[256];        // name part up to its last dot
  char extension[256];   // extension without its dot; all zero when none
  FileMaskEntry* next;   // next entry, null for the last
};

// The host's list head, usually on its stack.
struct FileMaskList {
  FileMaskEntry* first;  // null when empty
  FileMaskEntry* last;   // null when empty
};

// One listed member; allocated by the module, freed by DoneArcFileList.
struct ArcFileEntry {
  ArcFileEntry* next;       // following entry, or null
  char name[276];           // member name, ANSI, NUL-terminated
  int64_t size;             // member size, sign-extended
  int64_t packedSize;       // the same size again (members are stored)
  uint32_t dosDateTime;     // local MS-DOS time (low 16) and date (high 16)
  uint32_t attributes;      // 0x10 directory, 0x01 read-only
  int32_t kind;             // always 12
  uint8_t reserved1[12];
  int32_t field320;         // always 0
  int32_t field324;         // always 0
  int32_t field328;         // always 0
  int32_t field332;         // always 1
  uint8_t reserved2[104];
  int32_t field440;         // always 0
  uint8_t reserved3[44];
};

// The host's list of listed members.
struct ArcFileList {
  int32_t count;       // number of entries
  ArcFileEntry* head;  // first entry, or null
  ArcFileEntry* tail;  // last entry, or null
};

// Figures of the last successful listing; 384 bytes, no pointers.
struct ArchiveInfo {
  int32_t field0;       // always 10
  int32_t field4;       // always 1
  int32_t field8;       // always 2
  int32_t field12;      // always 0
  uint8_t reserved1[12];
  int32_t field28;      // always 0
  int32_t field32;      // always 0
  int32_t entryCount;   // count of the host's list after listing
  int64_t sizeTotal;    // sum of the entries' sizes
  int64_t packedTotal;  // sum of the entries' second sizes
  int32_t ratio;        // compression ratio in per cent
  uint8_t reserved2[324];
};

// A file or member described in the 320-byte WIN32_FIND_DATAA layout. Times
// are FILETIMEs (100 ns since 1601, UTC), low word first.
struct FindRecord {
  uint32_t attributes;
  uint32_t creationTime[2];
  uint32_t accessTime[2];
  uint32_t writeTime[2];
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t reserved0;
  uint32_t reserved1;
  char fileName[260];
  char alternateName[14];
  uint8_t unused[2];
};

// The host's extraction settings; only three fields mean anything here.
const size_t kDecompSettingsSize = 1420;
const size_t kDecompPathModeOffset = 4;    // 32-bit signed path mode
const size_t kDecompBasePathOffset = 832;  // NUL-terminated base path
const size_t kDecompOutputOffset = 1104;   // NUL-terminated output directory

// The host's compression settings; the strings lie 64 bytes further on.
const size_t kCompStorePathsOffset = 60;   // 32-bit signed store-paths flag
const size_t kCompBasePathOffset = 896;    // NUL-terminated base path
const size_t kCompAddRootOffset = 1168;    // NUL-terminated add-root path

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FileMaskList) == 8, "FileMaskList");
static_assert(sizeof(FileMaskEntry) == 520, "FileMaskEntry");
static_assert(offsetof(FileMaskEntry, name) == 4, "FileMaskEntry.name");
static_assert(offsetof(FileMaskEntry, extension) == 260, "FileMaskEntry.ext");
static_assert(offsetof(FileMaskEntry, next) == 516, "FileMaskEntry.next");
static_assert(sizeof(ArcFileList) == 12, "ArcFileList");
static_assert(offsetof(ArcFileList, head) == 4, "ArcFileList.head");
static_assert(offsetof(ArcFileList, tail) == 8, "ArcFileList.tail");
static_assert(sizeof(ArcFileEntry) == 488, "ArcFileEntry");
static_assert(offsetof(ArcFileEntry, name) == 4, "ArcFileEntry.name");
static_assert(offsetof(ArcFileEntry, size) == 280, "ArcFileEntry.size");
static_assert(offsetof(ArcFileEntry, packedSize) == 288, "ArcFileEntry.packed");
static_assert(offsetof(ArcFileEntry, dosDateTime) == 296, "ArcFileEntry.time");
static_assert(offsetof(ArcFileEntry, attributes) == 300, "ArcFileEntry.attr");
static_assert(offsetof(ArcFileEntry, kind) == 304, "ArcFileEntry.kind");
static_assert(offsetof(ArcFileEntry, field320) == 320, "ArcFileEntry.320");
static_assert(offsetof(ArcFileEntry, field332) == 332, "ArcFileEntry.332");
static_assert(offsetof(ArcFileEntry, field440) == 440, "ArcFileEntry.440");
#else
// Pointers take 8 bytes here: the order of the fields is what still holds.
static_assert(offsetof(FileMaskEntry, name) < offsetof(FileMaskEntry, next),
              "FileMaskEntry order");
static_assert(sizeof(ArcFileEntry) - offsetof(ArcFileEntry, size) == 488 - 280,
              "ArcFileEntry tail");
#endif
static_assert(sizeof(ArchiveInfo) == 384, "ArchiveInfo");
static_assert(offsetof(ArchiveInfo, field28) == 28, "ArchiveInfo.28");
static_assert(offsetof(ArchiveInfo, entryCount) == 36, "ArchiveInfo.count");
static_assert(offsetof(ArchiveInfo, sizeTotal) == 40, "ArchiveInfo.total");
static_assert(offsetof(ArchiveInfo, packedTotal) == 48, "ArchiveInfo.packed");
static_assert(offsetof(ArchiveInfo, ratio) == 56, "ArchiveInfo.ratio");
static_assert(sizeof(FindRecord) == 320, "FindRecord");
static_assert(offsetof(FindRecord, creationTime) == 4, "FindRecord.created");
static_assert(offsetof(FindRecord, accessTime) == 12, "FindRecord.accessed");
static_assert(offsetof(FindRecord, writeTime) == 20, "FindRecord.written");
static_assert(offsetof(FindRecord, sizeHigh) == 28, "FindRecord.sizeHigh");
static_assert(offsetof(FindRecord, sizeLow) == 32, "FindRecord.sizeLow");
static_assert(offsetof(FindRecord, fileName) == 44, "FindRecord.fileName");
static_assert(offsetof(FindRecord, alternateName) == 304, "FindRecord.alt");

// ---------------------------------------------------------------- callbacks

typedef int32_t (*SignalProc)(int32_t user, int32_t countLow,
                              int32_t countHigh, int32_t kind);
typedef int32_t (*FileNameProc)(int32_t user, const char* source,
                                const char* destination);
typedef int32_t (*ProgressProc)(int32_t user, int32_t percent, int32_t delta);
typedef int32_t (*ReplaceProc)(int32_t user, const void* existing,
                               const void* replacement);
typedef void (*StoredProc)();  // registered and kept, never called

// What OkToReplaceProc answers: replace, keep what is there, or stop the
// operation. Any other answer is neither.
enum : int32_t {
  ReplaceYes = 0,
  ReplaceSkip = 1,
  ReplaceAbort = 2,
};

// What SetSignalProc is told the total of, in its last argument.
enum : int32_t {
  SignalBytes = 2,    // extraction: the bytes the selected members store
  SignalMembers = 3,  // deletion: the members the archive lists
};

// The store-paths flag of CompSettings.
enum : int32_t {
  StoreNamesOnly = 0,      // members get the file names alone
  StoreRelativePaths = 1,  // members get the items' paths, below the add root
};

// ----------------------------------------------------------------- exports
// The module has one current archive, one set of settings and one status
// word for the whole process. Every export but the status and option
// exports takes one module-wide lock, so that calls from several threads
// run one after another: none crashes, every operation works on the archive
// that was current when it started, leaves it old or new and touches no
// other file. A host that calls from several threads orders its own
// sequences of calls (naming an archive, then working on it).
//
// The status and option exports take no lock: another thread, or a signal
// or console handler, may poll the status and stop an operation with
// SetArchiveStatus(StatusUserAbort) while it runs. A callback must never
// wait for another thread that calls a locked export: that thread waits
// for the operation, and the operation for the callback.
//
// Inside a callback some exports work as at any other time and the others
// are refused. A refused call changes nothing and sets StatusNotSupported
// at once; the operation then stops as for a stop request and ends with
// that status, the archive as it was, and no temporary or partial file of
// its own left behind or open.
//
// A null pointer never selects or changes more than nothing.
//
//   export                   lock  in a callback  with a null pointer
//   GetArchiveStatus,        none  allowed        -
//     SetArchiveStatus
//   arOptionsOn, arOptionsOff,
//     arOptionsAreOn         none  allowed        -
//   SetCryptKey,             none  allowed        not read
//     SetSetCryptKeyProc
//   the eight registrations  yes   allowed        procedure: none registered
//   InitFileMaskList,        yes   allowed (1)    nothing; answers null
//     GetMainCommentArc
//   AppendFileMask           yes   allowed (1)    mask or list: answers 0,
//                                                 StatusFileError
//   DoneFileMaskList         yes   allowed (1)    nothing
//   InitArcFileList,         yes   allowed        nothing; answers null
//     DoneArcFileList,
//     GetExtraInfoArc
//   InitArcFile,             yes   refused        StatusFileError, no archive
//     CreateArcFile                               current
//   DoneArcFile              yes   refused        -
//   SetOutputPath            yes   refused        nothing; answers the
//                                                 stored output directory
//   SetDecompExtraFeatures,  yes   refused        nothing
//     SetCompExtraFeatures
//   BuildArcFileList         yes   refused        list: StatusFileError;
//                                                 masks: StatusNoEntries
//   ExtractFileMaskListArc,  yes   refused        StatusNoEntries
//     DeleteFileMaskListArc
//   CompressFileMaskListArc  yes   refused        StatusEmptyRequest
//   the nine unsupported     yes   refused        not read
//     operations
//   (1) refused on the list the running operation works from.

extern "C" {
// Status word and options.
uint16_t GetArchiveStatus();
uint16_t SetArchiveStatus(int32_t value);
uint16_t arOptionsOn(int32_t bits);
uint16_t arOptionsOff(int32_t bits);
int32_t arOptionsAreOn(int32_t bits);
void UnsupportedArc();  // exported as the nine unsupported operations
void IgnoredArc();      // exported as SetCryptKey and SetSetCryptKeyProc

// Current archive.
void InitArcFile(const char* path);
void CreateArcFile(const char* path);
void DoneArcFile();

// Callback registrations.
void SetSetSignalProc(int32_t user, SignalProc proc);
void SetSetWarningProc(int32_t user, StoredProc proc);
void SetGetNextDiskProc(int32_t user, StoredProc proc);
void SetSetSfxProgressProc(int32_t user, StoredProc proc);
void SetSetFileNameProc(int32_t user, FileNameProc proc);
void SetSetProgressProc(int32_t user, ProgressProc proc);
void SetOkToReplaceProc(int32_t user, ReplaceProc proc);
void SetSkipFileProc(int32_t user, StoredProc proc);

// Settings.
char* SetOutputPath(const char* path);
void SetDecompExtraFeatures(const void* settings);
void SetCompExtraFeatures(const void* settings);

// Mask lists (GetMainCommentArc is InitFileMaskList under a second name).
FileMaskList* InitFileMaskList(FileMaskList* list);
uint8_t AppendFileMask(const char* mask, FileMaskList* list);
void DoneFileMaskList(FileMaskList* list);

// Operations.
int32_t BuildArcFileList(ArcFileList* list, const FileMaskList* masks);
ArcFileList* InitArcFileList(ArcFileList* list);
void DoneArcFileList(ArcFileList* list);
ArchiveInfo* GetExtraInfoArc(ArchiveInfo* info);
int32_t ExtractFileMaskListArc(const FileMaskList* masks);
int32_t CompressFileMaskListArc(const FileMaskList* items);
int32_t DeleteFileMaskListArc(const FileMaskList* masks);
}
