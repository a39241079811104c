// votar delete.
#include "archive.h"
#include "commands.h"
#include "console.h"
#include "names.h"

int Delete(const Options& o) {
  unsigned status = NameArchive(o);
  if (status != StatusOk) return OpenFailed(o, status);
  MaskList masks;
  if (!BuildMasks(o.names, &masks)) return 1;
  BeginFeedback(o, kDeleting, 0);
  api.DeleteFileMaskListArc(&masks.list);
  status = api.GetArchiveStatus();
  EndFeedback(status == StatusOk);
  if (int rc = IfStopped(status, "nothing was deleted"); rc >= 0) return rc;
  if (status == StatusOk) return 0;
  std::string archive = Shown(o.archive);
  if (status == StatusNoEntries) {
    Warn("no member of '%s' matches %s", archive.c_str(), MaskWords(o.names).c_str());
  } else {
    Warn("cannot delete from '%s': %s; nothing was deleted", archive.c_str(),
         WhyChangeFailed(o, status).c_str());
  }
  return 1;
}
