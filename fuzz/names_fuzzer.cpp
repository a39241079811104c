// Fuzzes the name rules: masks and candidate names through the mask list,
// matching, the read-name rule, both forms of the stored-name rule and the
// output path with its safety rule. Inputs are split at the first NUL into
// a mask and a name; inputs of odd length run under a UTF-8 code page, and
// the walks also run under a double-byte one.
#include <clocale>
#include <cstring>
#include <string>

#include "session/settings.h"
#include "votar.h"
#include "names/chars.h"
#include "names/masks.h"
#include "names/paths.h"
#include "tar/membername.h"

// What is written stays below C:\out\: no "..", no drive or stream colon,
// no second root.
static bool StaysBelow(const char* output) {
  if (strncmp(output, "C:\\out\\", 7) != 0) return false;
  std::string rest = output + 7;
  if (!rest.empty() && rest[0] == '\\') return false;
  if (rest.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = rest.find_first_of("\\/", start);
    std::string part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t cut = input.find('\0');
  std::string mask = input.substr(0, cut);
  std::string name = cut == std::string::npos ? "" : input.substr(cut + 1);
  name = name.substr(0, name.find('\0'));

  FileMaskList list;
  InitFileMaskList(&list);
  AppendFileMask(mask.c_str(), &list);
  AppendFileMask("*.*", &list);
  MatchFileMaskList(name.c_str(), &list);
  DoneFileMaskList(&list);
  setlocale(LC_CTYPE, size % 2 == 1 ? "C.UTF-8" : "C");
  std::string text = name.substr(0, 255);
  std::string pattern = mask.substr(0, 255);
  MatchWildcard(text.c_str(), pattern.c_str());
  static const unsigned char kLeads[] = {0x81, 0x9F, 0xE0, 0xFC, 0};
  CodePage cp932 = LeadByteCodePage(kLeads);
  MatchWildcard(text.c_str(), pattern.c_str(), &cp932);
  char parts[3][kPartSize];
  SplitPath(name.c_str(), nullptr, parts[0], parts[1], parts[2], &cp932);
  // Upper-casing never writes past its buffer, and cuts between characters.
  char upper[16];
  size_t n = UpperText(name.c_str(), upper, sizeof upper);
  if (n >= sizeof upper || strlen(upper) != n) __builtin_trap();
  size_t prefix = CaselessPrefix(name.c_str(), mask.substr(0, 200).c_str());
  if (prefix != SIZE_MAX && prefix > name.size()) __builtin_trap();
  char scratch[kRawNameSize];
  char decoded[256];
  DecodeStoredText(name.substr(0, kRawNameSize / 4).c_str(), size % 3 == 0, false, scratch,
                   decoded, sizeof decoded);

  char readName[256];
  ReadName(name.substr(0, 99).c_str(), readName, sizeof readName);

  char stored[kPathSize];
  std::string path = name.substr(0, kPathSize - 1);
  memcpy(stored, path.c_str(), path.size() + 1);
  MakeStoredName(stored, sizeof stored);
  memcpy(stored, path.c_str(), path.size() + 1);
  MakeStoredNameForHeader(stored, sizeof stored);

  for (int32_t mode = 0; mode < 3; mode++) {
    unsigned char settings[kDecompSettingsSize] = {};
    memcpy(settings + kDecompPathModeOffset, &mode, sizeof mode);
    std::string base = mask.substr(0, 200);
    memcpy(settings + kDecompBasePathOffset, base.c_str(), base.size() + 1);
    memcpy(settings + kDecompOutputOffset, "C:\\out\\", 8);
    SetDecompExtraFeatures(settings);
    char output[256];
    if (MakeOutputPath(readName, CurrentOutputRule(), output) == kOutputPathOk && !StaysBelow(output)) {
      __builtin_trap();
    }
  }
  return 0;
}
