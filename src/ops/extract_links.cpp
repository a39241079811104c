// Extraction of folders and links. Folders get their times and modes at
// the end, deepest first, once everything below them is written. A link is
// made only where its target stays inside the output folder; where the
// system makes none, a copy of the member it names stands for it, made at
// the end of the run from the file this run wrote for that member, or else
// from the member's data.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../archive/tempname.h"
#include "../base/grow.h"
#include "../base/status.h"
#include "../names/chars.h"
#include "../names/paths.h"
#include "../names/text.h"
#include "../session/callbacks.h"
#include "../session/settings.h"
#include "extraction.h"
#include "ops.h"
#include "progress.h"

// How many links one target may pass through before it counts as a loop.
const int kMostLinksFollowed = 40;

// ------------------------------------------------------------- folders

// In the path mode that keeps the base path out, the folder that is the
// base path itself is the output folder: nothing is made for it.
static bool IsBasePathItself(const char* name, const OutputRule& rule) {
  return rule.pathMode == 1 && rule.basePath[0] != '\0' &&
         BasePathCut(name, rule.basePath) == strlen(name);
}

static bool RememberFolder(Extraction* x, const TarEntry& member, const char* path) {
  if (!RoomForOneMore(&x->folders, x->folderCount, &x->folderCapacity)) return false;
  char* copy = CopyText(path);
  if (copy == nullptr) return false;
  x->folders[x->folderCount] = {copy, x->folderCount, member.mtime, member.hasTime, member.mode};
  x->folderCount++;
  return true;
}

bool ExtractFolder(Extraction* x, const TarEntry& member) {
  OutputRule rule = CurrentOutputRule();
  // Names alone keep no folders.
  if (rule.pathMode == 0 || IsBasePathItself(member.name, rule)) return true;
  if (member.unnameable) {
    x->refusedUnsafe = true;
    return true;
  }
  Output out;
  Cleared placed = PlaceOutput(x, member, &out);
  if (placed != kClearedWrite) return placed != kClearedStop;
  // A folder that was there before keeps its time. A file or a link where
  // the folder belongs is left as it is and the folder is not made: the
  // run goes on, so that a file below it names the failure, and ends with
  // StatusFileError.
  PfPathKind kind = out.kind;
  const char* full = out.full;
  if (kind == kPfDirectory && !WroteIt(*x, full)) return true;
  FolderWatch watch = {NoteFolderMade, x};
  if ((kind != kPfNothing && kind != kPfDirectory) ||
      (kind == kPfNothing && !MakeOutputFolder(full, &watch))) {
    x->refusedUnsafe = true;
    return true;
  }
  if (!RememberWritten(x, full) || !RememberFolder(x, member, full)) {
    SetStatus(StatusOutOfMemory);
    return false;
  }
  return true;
}

static int Depth(const char* path) {
  CodePage cp = AnsiCodePage();
  int depth = 0;
  for (const char* p = path; (p = FindChar(cp, p, "\\")) != nullptr; p++) depth++;
  return depth;
}

// Deeper first; of one depth, in archive order, so that the last member
// of a folder's name gives it its time.
static int DeeperFirst(const void* a, const void* b) {
  const MadeFolder& x = *static_cast<const MadeFolder*>(a);
  const MadeFolder& y = *static_cast<const MadeFolder*>(b);
  int deeper = Depth(y.path) - Depth(x.path);
  return deeper != 0 ? deeper : x.order - y.order;
}

static void StampFolders(Extraction* x) {
  if (x->folderCount > 1) {
    qsort(x->folders, static_cast<size_t>(x->folderCount), sizeof(MadeFolder), DeeperFirst);
  }
  for (int32_t i = 0; i < x->folderCount; i++) {
    const MadeFolder& f = x->folders[i];
    PfStampFolder(f.path, f.mtime, f.hasTime, f.mode);
  }
}

// --------------------------------------------------------------- links

// Whether a link at `at` (a path below the output folder) to `target`
// stays inside the output folder, each link this run made on the way
// taken as its own target. A link on the way that this run did not make,
// a loop, and a target that leaves the folder are refused.
static bool TargetStaysInside(const Extraction& x, const char* at, const char* target) {
  char path[kFullPathSize];  // what is resolved so far, below the output folder
  char rest[kFullPathSize];  // what is still to walk
  const char* last = FindLastChar(AnsiCodePage(), at, "\\");
  size_t len = last != nullptr ? static_cast<size_t>(last - at) : 0;
  size_t dirLen = strlen(x.outputDir);
  if (dirLen + len + 1 > sizeof path || !CopyPath(rest, sizeof rest, target)) return false;
  memcpy(path, at, len);
  path[len] = '\0';
  int followed = 0;
  // Where the path stopped being on the disk: nothing below it is, so it
  // is not looked at again until a ".." climbs back above.
  size_t absentFrom = SIZE_MAX;
  size_t pos = 0;
  const char* part;
  size_t partLen;
  while (NextPathPart(rest, &pos, &part, &partLen)) {
    size_t before = len;
    if (!StepPath(path, &len, sizeof path - dirLen, part, partLen)) return false;
    if (len < before && len <= absentFrom) absentFrom = SIZE_MAX;  // a ".."
    if (len <= before) continue;  // "." or ".."
    if (const char* made = GetText(&x.links, path)) {
      // A link this run made: its target goes in its place.
      char next[kFullPathSize];
      size_t madeLen = strlen(made);
      size_t restLen = strlen(rest + pos);
      if (++followed > kMostLinksFollowed || IsAbsoluteTarget(made) ||
          madeLen + 1 + restLen + 1 > sizeof next) {
        return false;
      }
      memcpy(next, made, madeLen);
      next[madeLen] = '\\';
      memcpy(next + madeLen + 1, rest + pos, restLen + 1);
      memcpy(rest, next, madeLen + restLen + 2);
      pos = 0;
      len = before;
      path[len] = '\0';
      continue;
    }
    if (absentFrom != SIZE_MAX) continue;
    char full[kFullPathSize];
    memcpy(full, x.outputDir, dirLen);
    memcpy(full + dirLen, path, len + 1);
    PfPathKind kind = PfInspectBelow(full, dirLen);
    if (kind == kPfLink || kind == kPfThroughLink) return false;
    if (kind == kPfNothing) absentFrom = before;
  }
  return true;
}

static bool AddCopy(Extraction* x, const TarEntry& member, const Output& out,
                    const char* target, int32_t ordinal) {
  if (!RoomForOneMore(&x->copies, x->copyCount, &x->copyCapacity)) return false;
  LinkCopy c = {CopyText(out.full), CopyText(target), ordinal, out.mayMakeWritable,
                member.mtime, member.hasTime, member.mode};
  if (c.path == nullptr || c.target == nullptr) {
    free(c.path);
    free(c.target);
    return false;
  }
  x->copies[x->copyCount++] = c;
  return true;
}

// Makes the link at `temp`, a name of its own beside the output path
// (the output path itself when nothing is there), with the folders above
// it. False when the system made none.
static bool MakeLinkAt(Extraction* x, const TarEntry& member, const char* target,
                       const char* temp) {
  char parent[kFullPathSize];
  CopyPath(parent, sizeof parent, temp);
  if (const char* cut = FindLastChar(AnsiCodePage(), parent, "\\")) parent[cut - parent] = '\0';
  FolderWatch watch = {NoteFolderMade, x};
  MakeOutputFolder(parent, &watch);
  if (member.typeflag == kTypeHardLink) {
    const char* written = GetText(&x->files, target);
    return written != nullptr && PfMakeHardLink(written, temp);
  }
  const MemberRecord* named = FindMember(&x->members, target);
  return PfMakeSymlink(member.link, temp, named != nullptr && named->kind == kMemberFolder);
}

// Whether a copy can stand for a link the system did not make: a hard link
// names a file before it; a symbolic link must name a file, which a
// compressed archive, read once, may show only later.
static bool CanBeCopied(const Extraction& x, const TarEntry& member, const char* target) {
  if (member.typeflag == kTypeHardLink) return true;
  const MemberRecord* named = FindMember(&x.members, target);
  if (named == nullptr) return x.in.codec != kCodecNone;
  return named->kind == kMemberData;
}

bool ExtractLink(Extraction* x, const TarEntry& member) {
  bool hard = member.typeflag == kTypeHardLink;
  char target[kFullPathSize];
  bool named = !member.linkUnnameable && LinkedMemberName(member, target, sizeof target);
  // A hard link stands for a member before it; a symbolic link's target
  // may be made only inside the output folder.
  bool refused = member.linkUnnameable || IsAbsoluteTarget(member.link) ||
                 (hard && (!named || member.linkOrdinal < 0 || !IsSafeRelativeName(target)));
  Output out;
  Cleared cleared = refused ? kClearedSkip : PlaceOutput(x, member, &out);
  refused = refused || (cleared == kClearedWrite && !hard &&
                        !TargetStaysInside(*x, out.full + strlen(x->outputDir), member.link));
  if (refused) x->refusedUnsafe = true;
  if (refused || cleared != kClearedWrite) return cleared != kClearedStop;
  // The link is made before the host is told of it, so that one that can
  // be neither made nor copied is refused unnamed.
  char temp[kFullPathSize];
  bool exists = out.kind != kPfNothing;
  if (!(exists ? MakeTempName(out.full, temp, sizeof temp)
               : CopyPath(temp, sizeof temp, out.full))) {
    SetStatus(StatusFileError);
    return false;
  }
  bool made = MakeLinkAt(x, member, named ? target : "", temp);
  if (!made && !(named && CanBeCopied(*x, member, target))) {
    x->refusedUnsafe = true;
    return true;
  }
  cleared = AskAboutOutput(x, member, &out);
  if (cleared != kClearedWrite) {
    if (made) PfRemove(temp);
    return cleared != kClearedStop;
  }
  if (made && exists) {
    if (!ReplaceExisting(temp, out.full, out.mayMakeWritable)) {
      RemoveLeftover(temp);
      SetStatus(StatusFileError);
      return false;
    }
    // A second name of the file already there replaces nothing: it goes.
    if (PfEntryExists(temp)) PfRemove(temp);
  }
  bool remembered = true;
  if (made && hard) {
    remembered = RememberWritten(x, out.full) && PutText(&x->files, member.name, out.full);
  } else if (made) {
    remembered = PutText(&x->links, out.full + strlen(x->outputDir), member.link);
  } else {
    remembered = AddCopy(x, member, out, target, hard ? member.linkOrdinal : -1);
  }
  if (!remembered) SetStatus(StatusOutOfMemory);
  // As after a file's copy: the host learns this member is done with.
  if (StatusIsOk()) ReportFixedProgress(100, 0);
  return StatusIsOk();
}

// -------------------------------------------------------------- copies

// The member the copy stands for as the file to write, with the link's own
// time and mode.
static TarEntry CopyAsLink(const TarEntry& data, const LinkCopy& c) {
  TarEntry m = data;
  m.mtime = c.mtime;
  m.hasTime = c.hasTime;
  m.mode = c.mode;
  return m;
}

static Output CopyOutput(const LinkCopy& c) {
  Output out = {};
  CopyPath(out.full, sizeof out.full, c.path);
  out.exists = PfEntryExists(c.path);
  out.mayMakeWritable = c.mayMakeWritable;
  return out;
}

// A copy of a file on the disk.
static void CopyFromFile(Extraction* x, const LinkCopy& c, const char* from) {
  PfFile* file = PfOpenRead(from);
  if (file == nullptr) {
    SetStatus(StatusFileError);
    return;
  }
  FileSource source;
  StartFileSource(&source, file);
  TarEntry meta = {};
  meta.link = "";
  meta = CopyAsLink(meta, c);
  WriteMemberFile(x, meta, CopyOutput(c), &source, PfLength(file));
  PfClose(file);
}

static int ByOrdinal(const void* a, const void* b) {
  int32_t x = static_cast<const LinkCopy*>(a)->ordinal;
  int32_t y = static_cast<const LinkCopy*>(b)->ordinal;
  return x < y ? -1 : x > y;
}

// The copies from the members' data, in one more pass over the archive:
// the first copy of a member from its data, the others from that copy.
static void CopyFromArchive(Extraction* x, int32_t first) {
  LinkCopy* copies = x->copies + first;
  int32_t n = x->copyCount - first;
  qsort(copies, static_cast<size_t>(n), sizeof(LinkCopy), ByOrdinal);
  bool restarted = x->in.codec == kCodecNone || RestartArchiveInput(&x->in) == kDone;
  TarReader* r = &x->reader;
  if (!restarted || !StartTarReader(r, x->in.source)) {
    SetStatus(StatusFileError);
    return;
  }
  int32_t next = 0;
  TarEntry e;
  for (int32_t ordinal = 0; next < n && StatusIsOk() && ReadTarHeader(r, &e); ordinal++) {
    int32_t firstOfMember = next;
    for (; next < n && copies[next].ordinal == ordinal && StatusIsOk(); next++) {
      if (next > firstOfMember) {
        CopyFromFile(x, copies[next], copies[firstOfMember].path);
      } else if (SourceMoveTo(x->in.source, e.dataOffset)) {
        WriteMemberFile(x, CopyAsLink(e, copies[next]), CopyOutput(copies[next]));
      } else {
        SetStatus(StatusFileError);
      }
    }
  }
  if (StatusIsOk() && next < n) SetStatus(StatusFileError);
}

static void MakeCopies(Extraction* x) {
  // Copies from files this run wrote first; those from data go last.
  int32_t fromData = x->copyCount;
  for (int32_t i = 0; i < fromData && StatusIsOk();) {
    LinkCopy& c = x->copies[i];
    const char* written = GetText(&x->files, c.target);
    if (c.ordinal < 0 && written == nullptr) {
      const MemberRecord* named = FindMember(&x->members, c.target);
      if (named == nullptr || named->kind != kMemberData) {
        x->refusedUnsafe = true;  // it names no file
        c.ordinal = -2;
      } else {
        c.ordinal = named->ordinal;
      }
    }
    if (written != nullptr) CopyFromFile(x, c, written);
    if (written != nullptr || c.ordinal == -2) {
      // Done with: moved behind the ones still to make.
      LinkCopy done = c;
      c = x->copies[--fromData];
      x->copies[fromData] = done;
      continue;
    }
    i++;
  }
  if (StatusIsOk() && fromData > 0) {
    // The ones from data are the first `fromData`.
    int32_t count = x->copyCount;
    x->copyCount = fromData;
    CopyFromArchive(x, 0);
    x->copyCount = count;
  }
}

void FinishExtraction(Extraction* x) {
  if (StatusIsOk() && x->copyCount > 0) MakeCopies(x);
  StampFolders(x);
}

void ReleaseExtraction(Extraction* x) {
  for (int32_t i = 0; i < x->folderCount; i++) free(x->folders[i].path);
  free(x->folders);
  for (int32_t i = 0; i < x->copyCount; i++) {
    free(x->copies[i].path);
    free(x->copies[i].target);
  }
  free(x->copies);
  DoneNameIndex(&x->written);
  DoneNameTable(&x->files);
  DoneNameTable(&x->links);
  DoneMemberIndex(&x->members);
}
