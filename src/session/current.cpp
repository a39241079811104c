#include "current.h"

#include <cstring>

char gArchiveName[kPathSize];
char gArchivePath[kFullPathSize];
int gNewArchive = 0;
ArchiveInfo gArchiveInfo;
CreatedArchive gCreated;

void SetArchive(const char* path, int newArchive) {
  memset(gArchiveName, 0, sizeof gArchiveName);
  memset(gArchivePath, 0, sizeof gArchivePath);
  if (path != nullptr) {
    CopyPath(gArchiveName, sizeof gArchiveName, path);
    CopyPath(gArchivePath, sizeof gArchivePath, path);
  }
  gNewArchive = newArchive;
}

bool Unnameable(const char* path) {
  return path == nullptr || strnlen(path, kPathSize) == kPathSize;
}

// A name whose absolute form cannot be made leaves the operation no archive
// to work on: it fails as with none named.
void FixArchivePath() {
  if (gArchiveName[0] == '\0' || !FullPath(gArchiveName, gArchivePath, sizeof gArchivePath)) {
    memset(gArchivePath, 0, sizeof gArchivePath);
  }
}
