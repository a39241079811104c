// Adding files to a new archive.
#include "../archive/lock.h"
#include "../archive/rebuild.h"
#include "../base/status.h"
#include "../session/current.h"
#include "../session/settings.h"
#include "archiveio.h"
#include "items.h"
#include "ops.h"

// The items into the open temporary file, and the end marker, compressed as
// the archive's name asks.
static bool WriteNewArchive(const FileMaskList* items, Rebuild* rb) {
  ArchiveOutput out;
  Outcome started = StartArchiveOutput(&out, rb->file, CodecOfName(gArchivePath));
  SetStatusFor(started);
  bool written = started == kDone && AddItems(&out.writer, items, rb->tempPath) &&
                 EndArchive(&out.writer);
  if (written) {
    Outcome finished = FinishArchiveOutput(&out);
    SetStatusFor(finished);
    written = finished == kDone;
  }
  EndArchiveOutput(&out);
  return written;
}

// A new archive is written beside its final name and moved there when it is
// complete: a failure leaves nothing of it, and an archive an earlier call
// made under that name stays as it was.
static void CreateNewArchive(const FileMaskList* items) {
  if (items->first == nullptr) {
    SetStatus(StatusEmptyRequest);
    return;
  }
  // Names alone store no folders: a list of folders alone adds nothing.
  if (gStorePaths == StoreNamesOnly && AllItemsAreDirectories(items)) return;
  // A compression the name asks for and the module does not write: a plain
  // archive under that name would deceive whoever reads it.
  if (NamesUnwrittenCodec(gArchivePath)) {
    SetStatus(StatusFileError);
    return;
  }
  // What an earlier creation left under this name is replaced like an
  // updated archive; anything else there is not this module's to replace.
  // A link to nothing would be replaced by the new archive, or followed to
  // wherever it points: neither is asked for.
  bool exists = FileExists(gArchivePath);
  if (!exists && gArchivePath[0] != '\0' && PfEntryExists(gArchivePath)) {
    SetStatus(StatusFileError);
    return;
  }
  ArchiveLock lock = {};
  if (exists) {
    Outcome opened =
        OpenCreatedArchive(gArchivePath, gCreated.known ? &gCreated.stamp : nullptr, &lock);
    if (opened != kDone) {
      SetStatusFor(opened);
      return;
    }
  }
  // An earlier creation's archive is replaced where it lies.
  const char* where = HoldsArchiveLock(lock) ? lock.path : gArchivePath;
  Rebuild rb;
  Outcome begun = BeginRebuild(where, &rb);
  SetStatusFor(begun);
  if (begun == kDone) {
    if (WriteNewArchive(items, &rb)) {
      SetStatusFor(FinishRebuild(&rb, &lock, where));
    } else {
      AbandonRebuild(&rb);
    }
  }
  ReleaseArchive(&lock);
  if (StatusIsOk()) gCreated.known = StampCreatedArchive(gArchivePath, &gCreated.stamp);
}

// Whether a base path or add-root path that did not fit is one this add
// uses: cut, it would name other files. A new archive that stores names
// alone reads the items as given; an update looks files up below the
// add-root path and members below the base path, whatever the flag.
static bool NeededPathTooLong() {
  bool update = gNewArchive != 1;
  bool usesBasePath = update || gStorePaths != StoreNamesOnly;
  bool usesAddRoot = update || gStorePaths == StoreRelativePaths;
  return (usesBasePath && gBasePathTooLong) || (usesAddRoot && gAddRootTooLong);
}

void CompressArc(const FileMaskList* items) {
  if (NeededPathTooLong()) {
    SetStatus(StatusFileError);
  } else if (gNewArchive == 1) {
    CreateNewArchive(items);
  } else {
    UpdateArchive(items);
  }
}
