// Extraction: the members that the host's masks select, written below the
// output directory.
#include <cstdlib>
#include <cstring>

#include "../archive/tempname.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../names/nameindex.h"
#include "../names/paths.h"
#include "../names/text.h"
#include "../platform/platform.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../session/settings.h"
#include "../tar/copy.h"
#include "../tar/scanner.h"
#include "archiveio.h"
#include "extraction.h"
#include "items.h"
#include "ops.h"
#include "progress.h"
#include "replace.h"

// Directories and names that end in a separator (DOCS\) make neither a
// file nor a directory; a name of a dot and an extension alone (.PROFILE)
// is an ordinary file.
static bool HasFileToWrite(const TarEntry& member) {
  if (member.attributes & kPfAttrDirectory) return false;
  char name[kPartSize];
  char extension[kPartSize];
  SplitPath(member.name, nullptr, nullptr, name, extension);
  return name[0] != '\0' || extension[0] != '\0';
}

// A name without an ANSI form, and a sparse member in a form the module
// does not read, cannot be written as what they are.
static bool CanBeWritten(const TarEntry& member) {
  return !member.unnameable && member.sparse != kSparseUnknown;
}

static bool IsReadOnlyFile(const char* path) {
  uint32_t attributes = PfGetAttributes(path);
  return attributes != kPfInvalidAttributes && (attributes & kPfAttrReadOnly);
}

// Puts the finished file in the place of what is at the output path, in one
// step that replaces a link itself. Windows replaces no read-only file: the
// host's answer 0 lets it be made writable, but only when that is needed,
// so that a link that looks like a file (as Wine shows them) never has its
// target's attributes changed.
bool ReplaceExisting(const char* written, const char* outputPath, bool mayMakeWritable) {
  if (PfReplace(written, outputPath)) return true;
  if (!mayMakeWritable || !IsReadOnlyFile(outputPath)) return false;
  MakeWritable(outputPath);
  return PfReplace(written, outputPath);
}

// Whether this run wrote the file at `path`: a later member of its name
// replaces it without asking, as the last copy wins.
bool WroteIt(const Extraction& x, const char* path) {
  PfFileId id;
  char key[kFileIdKeySize];
  if (!PfGetFileId(path, &id)) return false;
  FileIdKey(id, key, sizeof key);
  return FindName(&x.written, key) >= 0;
}

bool RememberWritten(Extraction* x, const char* path) {
  PfFileId id;
  char key[kFileIdKeySize];
  if (!PfGetFileId(path, &id)) return true;
  FileIdKey(id, key, sizeof key);
  return AddName(&x->written, key, 0);
}

// A folder made for a file stands as one this run made, should a folder
// member of its name follow. Without the memory to remember it, that member
// finds it there before and leaves its time as it is.
void NoteFolderMade(void* context, const char* folder) {
  RememberWritten(static_cast<Extraction*>(context), folder);
}

// The member's data into the open file.
static Outcome CopyData(Extraction* x, const TarEntry& member, PfFile* file) {
  TarWriter out;
  StartTarWriter(&out, file);
  // A compressed archive is read once: progress counts its bytes.
  HostProgress progress;
  ProgressHook hook = x->in.codec != kCodecNone
                          ? x->runHook
                          : StartHostProgress(&progress, StoredSize(member));
  Outcome copied = member.sparse != kSparseNone
                       ? CopySparseOut(&x->reader, &out, member, hook)
                       : CopyOut(x->in.source, &out, StoredSize(member), hook);
  EndTarWriter(&out);
  return copied;
}

// Copies one member into a file of its own. What is at the output path
// already, a file or a link, is replaced by a file written beside it, so
// that nothing is ever written through a link and a failure leaves the old
// file as it was. A copy that ends early leaves no file with the member's
// time on it: the new file is removed and the failure stands.
void WriteMemberFile(Extraction* x, const TarEntry& member, const Output& out,
                     ByteSource* from, int64_t length) {
  char written[kFullPathSize];
  if (!(out.exists ? MakeTempName(out.full, written, sizeof written)
                   : CopyPath(written, sizeof written, out.full))) {
    SetStatus(StatusFileError);
    return;
  }
  FolderWatch watch = {NoteFolderMade, x};
  PfFile* file = CreateOutputFile(written, &watch);
  if (file == nullptr) {
    SetStatus(StatusFileError);
    return;
  }
  SetStatus(StatusOk);
  if (from != nullptr) {
    TarWriter sink;
    StartTarWriter(&sink, file);
    HostProgress progress;
    SetStatusFor(CopyOut(from, &sink, length, StartHostProgress(&progress, length)));
    EndTarWriter(&sink);
  } else {
    SetStatusFor(CopyData(x, member, file));
  }
  ReportFixedProgress(100, 0);
  uint16_t copied = gArchiveStatus;
  bool closed = copied == StatusOk ? PfCloseStamped(file, written, member.mtime, member.hasTime,
                                                    kPfAttrArchive, member.mode)
                                   : PfClose(file);
  if (copied == StatusOk && !closed) copied = StatusWriteError;
  if (copied == StatusOk && out.exists &&
      !ReplaceExisting(written, out.full, out.mayMakeWritable)) {
    copied = StatusFileError;
  }
  if (copied != StatusOk) {
    RemoveLeftover(written);
    SetStatus(copied);
  }
}

// Whether the file at the output path is the archive being read.
static bool IsTheArchive(const char* outputPath, const ArchiveFiles& archive) {
  PfFileStatus existing;
  return PfStat(outputPath, &existing) && IsArchiveFile(outputPath, existing, archive);
}

// The path the file system gets for an output path: the rest of it, after
// the output directory as the host gave it, below the directory's full path.
bool FullOutputPath(const Extraction& x, const char* outputPath, size_t dirLen,
                           char* full) {
  size_t have = strlen(x.outputDir);
  const char* rest = outputPath + dirLen;
  size_t restLen = strlen(rest);
  if (!x.outputDirFixed || have + restLen + 1 > kFullPathSize) return false;
  memcpy(full, x.outputDir, have);
  memcpy(full + have, rest, restLen + 1);
  return true;
}

Cleared PlaceOutput(Extraction* x, const TarEntry& member, Output* out) {
  // The host is shown the output path; the file system gets its full form.
  memset(out->shownPath, 0, sizeof out->shownPath);
  OutputRule rule = CurrentOutputRule();
  OutputPathResult made = MakeOutputPath(member.name, rule, out->shownPath);
  if (made == kOutputPathOk &&
      !FullOutputPath(*x, out->shownPath, strlen(rule.outputDir), out->full)) {
    made = kOutputPathTooLong;
  }
  // What is at the output path, looked at without following links below the
  // output directory: a link there is what the host is asked about and
  // what gets replaced.
  PfPathKind kind = made == kOutputPathOk ? PfInspectBelow(out->full, strlen(x->outputDir))
                                          : kPfNothing;
  // A member whose path passes through a link, or that would overwrite the
  // archive being read, is refused like a name that leaves the output
  // directory.
  if (made == kOutputPathUnsafe || kind == kPfThroughLink ||
      (kind == kPfFile && IsTheArchive(out->full, x->archive))) {
    x->refusedUnsafe = true;
    return kClearedSkip;
  }
  if (made == kOutputPathTooLong) {
    SetStatus(StatusFileError);
    return kClearedStop;
  }
  out->kind = kind;
  return kClearedWrite;
}

Cleared AskAboutOutput(Extraction* x, const TarEntry& member, Output* out) {
  PfPathKind kind = out->kind;
  char shown[1 + sizeof member.name];
  DisplayName(member.name, shown, sizeof shown);
  NotifyFileName(shown, out->shownPath);
  // Until InitArcFile has run there is no replace check: files are
  // overwritten without asking. What this run wrote is replaced unasked.
  out->exists = kind != kPfNothing;
  bool ours = kind == kPfFile && WroteIt(*x, out->full);
  bool checked = out->exists && !ours && ReplaceCheckInPlace();
  bool asked = checked && HostAnswersReplace();
  int32_t answer = checked ? ReplaceCheck(member, out->full) : ReplaceYes;
  if (answer == ReplaceSkip) return kClearedSkip;
  if (answer == ReplaceAbort) {
    SetStatus(StatusUserAbort);
    return kClearedStop;
  }
  out->mayMakeWritable = ours || (asked && answer == ReplaceYes && kind == kPfFile);
  // A read-only file is replaced only when the host said yes to it: a
  // rename would replace it whatever its attribute says.
  if (kind == kPfFile && !out->mayMakeWritable && IsReadOnlyFile(out->full)) {
    SetStatus(StatusFileError);
    return kClearedStop;
  }
  return kClearedWrite;
}

Cleared ClearOutput(Extraction* x, const TarEntry& member, Output* out) {
  Cleared placed = PlaceOutput(x, member, out);
  return placed == kClearedWrite ? AskAboutOutput(x, member, out) : placed;
}

// Answers false when extraction is to stop.
static bool ExtractMember(const TarEntry& member, Extraction* x) {
  if (IsFolderEntry(member)) return ExtractFolder(x, member);
  if (!HasFileToWrite(member)) return true;
  if (!CanBeWritten(member)) {
    x->refusedUnsafe = true;
    return true;
  }
  if (IsLinkEntry(member)) return ExtractLink(x, member);
  // Copying from anywhere but the member's data would write wrong bytes.
  if (!SourceMoveTo(x->in.source, member.dataOffset)) {
    SetStatus(StatusFileError);
    return false;
  }
  Output out;
  Cleared cleared = ClearOutput(x, member, &out);
  if (cleared != kClearedWrite) return cleared == kClearedSkip;
  WriteMemberFile(x, member, out);
  if (StatusIsOk() && (!RememberWritten(x, out.full) || !PutText(&x->files, member.name, out.full))) {
    SetStatus(StatusOutOfMemory);
  }
  return StatusIsOk();
}

static void ExtractEntries(const TarEntryList* list, Extraction* x) {
  // The bytes to be read: a sparse member counts what is stored of it.
  int64_t total = 0;
  for (const TarEntry* m = list->head; m != nullptr; m = m->next) total += StoredSize(*m);
  SignalTotal(total, SignalBytes);
  IdentifyArchiveFiles(nullptr, &x->archive);
  for (const TarEntry* m = list->head; m != nullptr; m = m->next) {
    if (CheckForStop() || !ExtractMember(*m, x)) break;
  }
  FinishExtraction(x);
  // Members whose names would leave the output directory were not written:
  // the host learns that not everything was extracted.
  if (StatusIsOk() && x->refusedUnsafe) SetStatus(StatusFileError);
}

// A plain archive: scanned whole first, so that the host is told the bytes
// to come, then each member read where it lies.
static void ExtractScanned(Extraction* x, const FileMaskList* masks) {
  TarEntryList members;
  ScanEnd end = ScanArchive(&x->reader, x->in.source, &members, masks, false, nullptr,
                            &x->members);
  // Folders the masks take are extracted too, though they are not listed.
  int32_t matched = 0;
  for (const TarEntry* m = members.head; m != nullptr; m = m->next) matched++;
  SetScanStatus(end, matched);
  // Damage ends the scan: what lies before it is extracted, and the host
  // learns that the rest could not be.
  bool damaged = end == kScanDamaged && gArchiveStatus == StatusFileError;
  if (damaged) SetStatus(members.count > 0 ? StatusOk : StatusFileError);
  // The copies at the end read the archive again: what the scan said is
  // taken first.
  bool badRecords = x->reader.outcome.badRecords;
  if (StatusIsOk()) ExtractEntries(&members, x);
  if ((damaged || badRecords) && StatusIsOk()) SetStatus(StatusFileError);
  FreeTarEntryList(&members);
}

// A compressed archive: read once, front to back, each member extracted as
// its header is read. The host is told the archive file's size, and
// progress counts the compressed bytes read.
static void ExtractStreamed(Extraction* x, const FileMaskList* masks) {
  int64_t size = x->in.fileSize;
  SignalTotal(size, SignalBytes);
  IdentifyArchiveFiles(nullptr, &x->archive);
  x->runHook = StartCompressedProgress(&x->progress, size, &x->in.decoded);
  TarReader* r = &x->reader;
  if (!StartTarReader(r, x->in.source)) {
    SetStatus(StatusFileError);
    return;
  }
  int32_t matched = 0;
  TarEntry member;
  for (;;) {
    if (CheckForStop()) return FinishExtraction(x);
    if (ReadTarHeader(r, &member) == 0) break;
    if (!NoteMember(&x->members, &member)) {
      SetStatus(StatusOutOfMemory);
      return FinishExtraction(x);
    }
    if (member.name[0] == '\0' || !MatchFileMaskList(member.name, masks)) continue;
    matched++;
    if (!ExtractMember(member, x)) return FinishExtraction(x);
  }
  SetScanStatus(InputScanEnd(x->in, *r, r->outcome.end), matched);
  bool badRecords = r->outcome.badRecords;
  FinishExtraction(x);
  if (StatusIsOk() && (x->refusedUnsafe || badRecords)) SetStatus(StatusFileError);
}

void ExtractArc(const FileMaskList* masks) {
  Extraction* x = static_cast<Extraction*>(calloc(1, sizeof(Extraction)));
  if (x == nullptr) {
    SetStatus(StatusOutOfMemory);
    return;
  }
  x->outputDirFixed = FullPath(gOutputDir, x->outputDir, sizeof x->outputDir);
  PfFile* file = OpenArchiveInput();
  if (file != nullptr) {
    Outcome started = StartArchiveInput(&x->in, file);
    SetStatusFor(started);
    if (started == kDone && x->in.codec == kCodecNone) ExtractScanned(x, masks);
    if (started == kDone && x->in.codec != kCodecNone) ExtractStreamed(x, masks);
    EndArchiveInput(&x->in);
    PfClose(file);
  }
  ReleaseExtraction(x);
  free(x);
}
