// The platform layer: the only code that talks to the operating system
// beyond the C runtime. platform_win32.cpp implements it for the product
// DLL; platform_posix.cpp is its twin for the native build, in which paths
// use "\" like on Windows and are turned into "/" where they reach the file
// system. stream.cpp holds the buffered streams common to both, with the
// fault-injection seam that tests use.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------- streams

struct PfFile;  // an open binary file; opaque to the module

PfFile* PfOpenRead(const char* path);   // "rb"; a directory never opens
PfFile* PfCreateNew(const char* path);  // create; fails when the path exists
size_t PfRead(PfFile* f, void* buf, size_t n);         // bytes read
size_t PfWrite(PfFile* f, const void* buf, size_t n);  // bytes written
bool PfSeek(PfFile* f, int64_t pos);                   // absolute position
// Moves `n` bytes from the position of `from` to the end of `to` without a
// buffer between them, and answers the bytes written. When that is short,
// `*inputEnded` tells whether the input ended or failed (what could be read
// has been written) or the writing failed. `following` says how many bytes
// the next calls will move on from there, which lets a long copy go in
// whole buffers.
size_t PfCopy(PfFile* from, PfFile* to, size_t n, int64_t following, bool* inputEnded);
int64_t PfLength(PfFile* f);  // -1 when unknown
int64_t PfPosition(PfFile* f);  // where the next byte is read or written
bool PfSync(PfFile* f);       // write buffers through to the disk
// Makes the first 512 bytes written to a writing stream, which stands at
// the position they belong to, go into `held` instead of the file; what
// follows goes to the file after them. Lets a writer put a block in place
// last, when everything after it is on the disk.
bool PfHoldFirstBlock(PfFile* f, unsigned char held[512]);
bool PfHoldsBytes(PfFile* f);  // some of those 512 bytes are still to come
// Reads from the file itself at `pos`, past what a reading stream buffered
// before the file was written through another stream.
size_t PfReadAt(PfFile* f, int64_t pos, void* buf, size_t n);
// A writing stream on the file that a stream opened with PfOpenLocked
// reads, to change it in place; it shares the file position with that
// stream, so each is positioned before it is used after the other.
PfFile* PfOpenWriterOf(PfFile* locked);
// Gives the file a writing stream is writing the permission bits or
// attributes, and the owner where the system lets it, of the file `model`
// reads.
void PfTakeOwnership(PfFile* model, PfFile* f, const char* path);

// Makes the file of a writing stream `length` bytes long, after what it
// holds is written out; a file made longer gets a hole (zeros).
bool PfSetLength(PfFile* f, int64_t length);
bool PfClose(PfFile* f);      // false when buffered data could not be written
// PfClose for a file just written at `path`, which then gets `mtime` as its
// access and modification time (when `hasTime`; otherwise it keeps the time
// it was written at), and `attributes`, as far as they can be set. Where
// the system keeps permission bits, `mode` (when not -1) gives them, as
// the umask lets it and never set-user-ID, set-group-ID or sticky.
bool PfCloseStamped(PfFile* f, const char* path, int64_t mtime, bool hasTime,
                    uint32_t attributes, int32_t mode = -1);

// ------------------------------------------------------------ file system

const uint32_t kPfInvalidAttributes = 0xFFFFFFFFu;
const uint32_t kPfAttrReadOnly = 0x01;
const uint32_t kPfAttrDirectory = 0x10;
const uint32_t kPfAttrArchive = 0x20;
const uint32_t kPfAttrReparsePoint = 0x400;  // a link, a junction

bool PfExists(const char* path);  // true for files and directories
// Whether the folder has an entry of that name, also a link to nothing.
bool PfEntryExists(const char* path);
uint32_t PfGetAttributes(const char* path);  // kPfInvalidAttributes on failure
bool PfSetAttributes(const char* path, uint32_t attributes);
bool PfMakeDir(const char* path);  // one level
bool PfRemove(const char* path);
// Puts `from` in the place of `to` in one step, replacing `to` when it exists.
// A link at `to` is replaced itself, never followed.
bool PfReplace(const char* from, const char* to);

// What tells an existing file from every other: two paths name the same
// file when their identities are equal.
struct PfFileId {
  uint64_t volume;
  uint64_t index;
};
bool PfGetFileId(const char* path, PfFileId* id);

// File status as the runtime reports it. `mode` carries the type and
// permission bits in the classic Unix layout (0100644 for a regular file).
struct PfFileStatus {
  uint32_t mode;
  int32_t uid;
  int32_t gid;
  int64_t size;
  int64_t mtime;
  bool hasId;  // `id` is filled where the status gives it for free
  PfFileId id;
  uint32_t links;  // the names the file has; 1 where the system does not tell
};
bool PfStat(const char* path, PfFileStatus* status);
const uint32_t kPfModeTypeMask = 0170000;
const uint32_t kPfModeDirectory = 0040000;
const uint32_t kPfModeRegular = 0100000;

// What FindFirstFileA reports, in the 320-byte WIN32_FIND_DATAA layout. A
// link is described itself, with kPfAttrReparsePoint.
const size_t kPfFindDataSize = 320;
bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]);

// ------------------------------------------------------- items as entries
// What adding needs to store an item as the entry it is. Natively a
// symbolic link is stored as a link; on Win32 a link stands for what it
// names, and these answer as if there were none.

const uint32_t kPfModeLink = 0120000;

// PfStat of the entry itself: a symbolic link at the path is described as
// a link (kPfModeLink), not followed. On Win32 the same as PfStat.
bool PfStatEntry(const char* path, PfFileStatus* status);

// The target of the symbolic link at `path` as stored in it, in the ANSI
// code page, into `out` of `size` bytes with its NUL. False when there is
// no such link, or the target does not fit or has no ANSI form; on Win32
// always false.
bool PfReadLink(const char* path, char* out, size_t size);

// -------------------------------------------------------------- code pages

// The ANSI and OEM code pages are the system's (natively Windows-1252 and
// 437), or both UTF-8: on Win32 when the process runs so (GetACP() 65001),
// natively when the process's locale, as it set it, is a UTF-8 one.
bool PfAnsiIsUtf8();

// The lead bytes of a double-byte ANSI code page: pairs of first and last
// byte, ended by a 0; nothing for any other code page.
const size_t kPfLeadByteRanges = 12;
void PfLeadByteRanges(unsigned char ranges[kPfLeadByteRanges]);

// Both convert byte for byte; dst holds as many bytes as src (NUL included)
// and may be src itself. Between two UTF-8 code pages the bytes stay.
void PfOemToAnsi(const char* src, char* dst);
void PfAnsiToOem(const char* src, char* dst);
// A classic code page's upper-casing, in place (the same length).
void PfCharUpper(char* text);
// A code point's upper case, where that is one code point; else itself.
uint32_t PfUpperChar(uint32_t cp);

// ANSI text as UTF-8, into `dst` of `size` bytes with its NUL; answers the
// length, or 0 when it does not fit.
size_t PfAnsiToUtf8(const char* src, char* dst, size_t size);
// `len` bytes of UTF-8 in the ANSI code page, into `dst` of `size` bytes
// with its NUL, cut to fit at a character; answers the length. A character
// without an ANSI form (no look-alike is taken for it) and a byte that is
// no UTF-8 become "_". `*lossless` tells whether every character came over whole.
size_t PfUtf8ToAnsi(const char* src, size_t len, char* dst, size_t size, bool* lossless);

// ------------------------------------------------------------------ time

int64_t PfNow();  // seconds since 1970, UTC

// How many processors the process may run on; at least 1.
int PfProcessorCount();

// ---------------------------------------------------------------- threads
// The codecs' helpers: started by an operation and joined before it ends.
struct PfThread {
  void* handle;
};
// Runs `run(arg)` on a new thread; false when none can be started.
bool PfStartThread(PfThread* t, void (*run)(void*), void* arg);
// Waits for the thread to end.
void PfJoinThread(PfThread* t);

// Member time (seconds since 1970, UTC; before 1970 too) to a FILETIME:
// through local broken-down time and a local FILETIME, then to UTC with the
// bias now in force. False before 1601.
bool PfMemberFileTime(int64_t mtime, uint64_t* filetime);

// Member time to an MS-DOS date (high 16 bits) and time (low 16 bits) in
// local time. False when the date cannot be expressed in that form.
bool PfDosDateTime(int64_t mtime, uint32_t* dos);

// ------------------------------------------------------------------ links
// What lies at a path below a folder, looked at without following any link
// at or below the folder: `path` is the folder (its first `below`
// characters; none for the current folder) followed by a relative path.
enum PfPathKind {
  kPfNothing,      // nothing there (or a file where a folder should be)
  kPfFile,
  kPfDirectory,
  kPfLink,         // a link at the path itself, dangling or not
  kPfThroughLink,  // the path passes through a link below the folder
};
PfPathKind PfInspectBelow(const char* path, size_t below);

// ---------------------------------------------------- links on extraction
// A symbolic link at `path` to `target` (a relative path with "\"
// separators), made as a folder link when `folder`. True only when the
// link is there afterwards: a system may answer yes and make nothing.
bool PfMakeSymlink(const char* target, const char* path, bool folder);
// A second name `path` for the existing file `existing`.
bool PfMakeHardLink(const char* existing, const char* path);
// Gives the folder at `path` its time and, where the system keeps them,
// the permission bits of `mode` (when not -1) as PfCloseStamped does. A
// link in its place is never followed. False when it is no folder.
bool PfStampFolder(const char* path, int64_t mtime, bool hasTime, int32_t mode);

// ------------------------------------------------------- one writer at once
// A change of an archive holds an exclusive lock on one byte at 2^62, far
// past any data, so that readers are never blocked and a second writer fails
// at once: an open-file-description lock on POSIX, LockFileEx on Win32. Wine
// maps LockFileEx to a POSIX record lock, which conflicts with an
// open-file-description lock, so both builds exclude each other. Programs
// that tell a busy archive apart probe the same byte with the same kind of
// lock.
const int64_t kPfLockOffset = int64_t{1} << 62;

// Opens an existing regular file to read it, on a handle that may write and
// that holds the lock; null when it cannot be opened or another holds the
// lock. Closing the stream lets the lock go. The Win32 handle shares
// deletion, so that others may still rename or delete the file.
PfFile* PfOpenLocked(const char* path);

// The full path of the file an open stream reads, every link on the way
// resolved, in the module's form ("\" separators), into `out` of `size`
// bytes. False when it cannot be told or does not fit.
bool PfResolvedPath(PfFile* f, char* out, size_t size);

// Whether a file can be put in the place of, or removed under, a file that
// is open. Windows refuses while any handle is open, whatever it shares:
// there the lock is let go just before.
extern const bool kPfReplacesOpenFiles;

// What a file is at a moment: which file, its size and its last write time
// (in the finest unit the platform keeps). Equal stamps mean the same file,
// not written since.
struct PfFileStamp {
  PfFileId id;
  int64_t size;
  int64_t written;
};
bool PfStampOpen(PfFile* f, PfFileStamp* stamp);
bool PfStampPath(const char* path, PfFileStamp* stamp);
inline bool PfSameStamp(const PfFileStamp& a, const PfFileStamp& b) {
  return a.id.volume == b.id.volume && a.id.index == b.id.index && a.size == b.size &&
         a.written == b.written;
}

// Puts `from` at `to` in one step only when nothing is there: never
// replaces a file, so that two writers cannot both think they made it.
bool PfRenameNew(const char* from, const char* to);

// ------------------------------------------------------------ module lock
// One lock serialises the exports of the whole module: a CRITICAL_SECTION
// on Win32, a recursive mutex on POSIX. The thread that holds it may take
// it again, so that a call from inside a callback gets as far as the
// module's own judgement of it.
void PfLockModule();
void PfUnlockModule();

// ------------------------------------------------------------- full paths
// An operation resolves every relative path against the current folder as
// it stood when the operation started, so that a callback that moves the
// current folder (a file dialog does) cannot move the files it works on.

// The current folder, absolute, into `out` of `size` bytes; false when it
// cannot be told in the ANSI code page or does not fit.
bool PfCurrentFolder(char* out, size_t size);

// The absolute form of `path` as seen from `folder` (an absolute folder as
// PfCurrentFolder gives it, or "" when none could be told: then only paths
// that are absolute already have one). A path that names a folder by its
// form (empty, or ending in a separator or a drive's colon) ends in a
// separator. False when it has no such form or it does not fit.
bool PfFullPath(const char* folder, const char* path, char* out, size_t size);

// ------------------------------------------------------- fault injection
// A test seam: the n-th call (counting from 1) of an operation fails as the
// operating system would make it fail. Zero switches the fault off.

enum PfFault {
  kFaultOpen,
  kFaultRead,
  kFaultWrite,
  kFaultSeek,
  kFaultSync,
  kFaultReplace,
  kFaultRemove,
  kFaultCount
};
void PfInjectFault(PfFault op, int nth);
void PfResetFaults();
int PfFaultCalls(PfFault op);  // calls of `op` since the last reset
bool PfFaultHits(PfFault op);  // counts a call; true when it is to fail
// Calls `watch` with each call of an operation as it is counted, before it
// is made (null: no watching), so that a test can look at the files then.
void PfWatchCalls(void (*watch)(PfFault op, int call));
