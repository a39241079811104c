// Member data transfer, the end-of-archive marker, temporary names and the
// rebuild of an archive through a temporary file.
#pragma once

#include <cstddef>
#include <cstdint>

struct TarEntry;

const size_t kTransferSize = 65536;

// n bytes from the input stream to the output stream, with progress
// reports. A negative count copies nothing and sets StatusFileError.
void CopyOut(int64_t n);

// A sparse member's data to the output stream, each region at its offset
// (holes are left unwritten), and the file made as long as the member's
// real size. Progress counts the stored bytes. A map that no longer reads
// as it did, or data that would run past the member, is StatusFileError.
void CopySparseOut(const TarEntry& member);

// n bytes from the source stream to the output stream, with progress
// reports, then zero padding to whole blocks. Exactly n bytes are read: a
// source that ends sooner sets StatusFileError.
void CopyIn(int64_t n);

// A member as stored (header, data, padding), `length` rounded up to whole
// blocks, from `offset` of the input stream. No progress reports.
void CopyRaw(int64_t offset, int64_t length);

// `length` bytes of an entry from `offset` (its headers and data, without
// its padding), then fresh zero padding.
void CopyMember(int64_t offset, int64_t length);

// Two zero blocks after the last member. False, with StatusWriteError, when
// written short.
bool WriteEndMarker();

// A name beside the archive, digits and ".$SC", under which nothing exists
// now. False when the archive's directory leaves no room for it, or when
// no free name turned up after a bounded number of tries.
bool MakeTempName(const char* archivePath, char* result, size_t size);

// Removes a temporary or incomplete file. A file can stay locked for a
// moment after it was closed (a scanner looking at it on Windows), so a
// failed removal gets a second try.
void RemoveLeftover(const char* path);

// Puts the finished temporary file in the archive's place in one step. On
// failure: StatusFileError, the old archive untouched, the temporary file
// gone.
void SwapArchive(const char* tempPath);

// The rebuild frame. BeginRebuild creates a new temporary file beside the
// archive as the output stream (`tempPath` holds kFullPathSize bytes); on failure it
// sets StatusFileError. FinishRebuild writes it through to the disk (when
// it replaces a file), closes it and swaps it in: in place of the archive
// whose lock the input stream holds, or, with none held, under a name that
// nothing has. AbandonRebuild closes and deletes it. Either way the archive
// is the complete old one or the complete new one. FinishEmptyRebuild is
// the end of a rebuild that left nothing: the locked archive is removed.
bool BeginRebuild(char* tempPath);
void FinishRebuild(const char* tempPath);
void FinishEmptyRebuild(const char* tempPath);
void AbandonRebuild(const char* tempPath);
