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
PfFile* PfOpenWrite(const char* path);  // "wb": create or truncate
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
bool PfSync(PfFile* f);       // write buffers through to the disk
// Makes the file of a writing stream `length` bytes long, after what it
// holds is written out; a file made longer gets a hole (zeros).
bool PfSetLength(PfFile* f, int64_t length);
bool PfClose(PfFile* f);      // false when buffered data could not be written
// PfClose for a file just written at `path`, which then gets `mtime` as its
// access and modification time (when `hasTime`; otherwise it keeps the time
// it was written at), and `attributes`, as far as they can be set.
bool PfCloseStamped(PfFile* f, const char* path, int64_t mtime, bool hasTime,
                    uint32_t attributes);

// ------------------------------------------------------------ file system

const uint32_t kPfInvalidAttributes = 0xFFFFFFFFu;
const uint32_t kPfAttrReadOnly = 0x01;
const uint32_t kPfAttrDirectory = 0x10;
const uint32_t kPfAttrArchive = 0x20;

bool PfExists(const char* path);  // true for files and directories
uint32_t PfGetAttributes(const char* path);  // kPfInvalidAttributes on failure
bool PfSetAttributes(const char* path, uint32_t attributes);
bool PfMakeDir(const char* path);  // one level
bool PfRemove(const char* path);
// Puts `from` in the place of `to` in one step, replacing `to` when it exists.
bool PfReplace(const char* from, const char* to);
// Sets last-access and last-write time to `mtime` (seconds since 1970, UTC,
// before 1970 too). A read-only file refuses, as on Windows.
bool PfSetFileTime(const char* path, int64_t mtime);

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
};
bool PfStat(const char* path, PfFileStatus* status);
const uint32_t kPfModeTypeMask = 0170000;
const uint32_t kPfModeDirectory = 0040000;

// What FindFirstFileA reports, in the 320-byte WIN32_FIND_DATAA layout.
const size_t kPfFindDataSize = 320;
bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]);

// -------------------------------------------------------------- code pages

// Both convert byte for byte; dst holds as many bytes as src (NUL included)
// and may be src itself.
void PfOemToAnsi(const char* src, char* dst);
void PfAnsiToOem(const char* src, char* dst);
void PfCharUpper(char* text);       // the ANSI code page's upper-casing
bool PfIsLeadByte(unsigned char c);  // first byte of a double-byte character

// ANSI text as UTF-8, into `dst` of `size` bytes with its NUL; answers the
// length, or 0 when it does not fit.
size_t PfAnsiToUtf8(const char* src, char* dst, size_t size);
// `len` bytes of UTF-8 in the ANSI code page, into `dst` of `size` bytes
// with its NUL, cut to fit; answers the length. A character without an
// ANSI form (no look-alike is taken for it) and a byte that is no UTF-8
// become "_". `*lossless` tells whether every character came over whole.
size_t PfUtf8ToAnsi(const char* src, size_t len, char* dst, size_t size, bool* lossless);

// ------------------------------------------------------------------ time

int64_t PfNow();  // seconds since 1970, UTC

// Member time (seconds since 1970, UTC; before 1970 too) to a FILETIME:
// through local broken-down time and a local FILETIME, then to UTC with the
// bias now in force. False before 1601.
bool PfMemberFileTime(int64_t mtime, uint64_t* filetime);

// Member time to an MS-DOS date (high 16 bits) and time (low 16 bits) in
// local time. False when the date cannot be expressed in that form.
bool PfDosDateTime(int64_t mtime, uint32_t* dos);

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
