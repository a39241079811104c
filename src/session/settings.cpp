#include "settings.h"

#include <cstring>

char gOutputDir[kPathSize];
bool gOutputDirTooLong = false;
char gBasePath[kPathSize];
char gAddRoot[kPathSize];
bool gBasePathTooLong = false;
bool gAddRootTooLong = false;
int32_t gStorePaths = 0;
static unsigned char gDecompSettings[kDecompSettingsSize];

int32_t PathMode() {
  int32_t mode;
  memcpy(&mode, gDecompSettings + kDecompPathModeOffset, sizeof mode);
  return mode;
}

OutputRule CurrentOutputRule() {
  OutputRule rule;
  rule.outputDir = gOutputDir;
  rule.basePath = gBasePath;
  rule.pathMode = PathMode();
  rule.outputDirTooLong = gOutputDirTooLong;
  rule.basePathTooLong = gBasePathTooLong;
  return rule;
}

// A string field of a settings record, bounded by what the module keeps
// (`room` characters): false when it is longer.
static bool CopyField(const unsigned char* field, char* dst, size_t room) {
  size_t len = strnlen(reinterpret_cast<const char*>(field), room + 1);
  if (len > room) return false;
  memcpy(dst, field, len);
  dst[len] = '\0';
  return true;
}

// Stores the output directory with the trailing-separator rule and answers
// where the module keeps it. A directory that does not fit is not cut (that
// would move the files elsewhere): it is remembered as too long, and
// extraction refuses to write until the host names one that fits.
char* StoreOutputPath(const char* path) {
  gOutputDirTooLong = !AddTrailingSeparator(path, gOutputDir, sizeof gOutputDir);
  return gOutputDir;
}

void StoreDecompSettings(const void* settings) {
  memcpy(gDecompSettings, settings, kDecompSettingsSize);
  const unsigned char* output = gDecompSettings + kDecompOutputOffset;
  size_t outputRoom = kDecompSettingsSize - kDecompOutputOffset;
  if (output[0] != '\0') {
    char path[kDecompSettingsSize - kDecompOutputOffset + 1];
    size_t len = strnlen(reinterpret_cast<const char*>(output), outputRoom);
    memcpy(path, output, len);
    path[len] = '\0';
    StoreOutputPath(path);
  }
  const unsigned char* base = gDecompSettings + kDecompBasePathOffset;
  if (base[0] != '\0') {
    gBasePathTooLong = !CopyField(base, gBasePath, sizeof gBasePath - 1);
  }
}

void StoreCompSettings(const void* settings) {
  const unsigned char* record = static_cast<const unsigned char*>(settings);
  const unsigned char* base = record + kCompBasePathOffset;
  if (base[0] != '\0') {
    gBasePathTooLong = !CopyField(base, gBasePath, sizeof gBasePath - 1);
  }
  const unsigned char* root = record + kCompAddRootOffset;
  if (root[0] != '\0') {
    // The backslash comes by length alone: C:\ (3 characters) gets none,
    // D:\src\ gets a second one.
    gAddRootTooLong = !CopyField(root, gAddRoot, sizeof gAddRoot - 2);
    size_t len = strlen(gAddRoot);
    if (!gAddRootTooLong && len > 3) {
      gAddRoot[len++] = '\\';
      gAddRoot[len] = '\0';
    }
  }
  memcpy(&gStorePaths, record + kCompStorePathsOffset, sizeof gStorePaths);
}
