#include "fuzz_common.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Two levels below a fresh folder, so that a name climbing out of the
// output folder lands where CheckNothingOutside looks.
std::string MakeWorkDir() {
  char pattern[] = "/tmp/votar-fuzz-XXXXXX";
  char* dir = mkdtemp(pattern);
  if (dir == nullptr) abort();
  std::string work = std::string(dir) + "/a";
  mkdir(work.c_str(), 0700);
  work += "/b";
  mkdir(work.c_str(), 0700);
  return work;
}

static void ExpectOnly(const std::string& dir, const char* const* allowed, size_t n) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) abort();
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || std::find(allowed, allowed + n, name) != allowed + n) {
      continue;
    }
    fprintf(stderr, "found outside the output folder: %s/%s\n", dir.c_str(), name.c_str());
    abort();
  }
  closedir(d);
}

static void RemoveBelow(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      chmod(path.c_str(), 0700);
      RemoveBelow(path);
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }
  closedir(d);
}

void ClearDir(const std::string& dir) { RemoveBelow(dir); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::string ModuleForm(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void CheckNothingOutside(const std::string& work) {
  static const char* const kWork[] = {"a.tar", "add.txt", "out"};
  static const char* const kB[] = {"b"};
  static const char* const kA[] = {"a"};
  ExpectOnly(work, kWork, 3);
  std::string up = work.substr(0, work.rfind('/'));
  ExpectOnly(up, kB, 1);
  ExpectOnly(up.substr(0, up.rfind('/')), kA, 1);
}

void FixChecksums(std::string* archive) {
  for (size_t pos = 0; pos + 512 <= archive->size(); pos += 512) {
    char* block = &(*archive)[pos];
    memset(block + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < 512; i++) sum += static_cast<unsigned char>(block[i]);
    snprintf(block + 148, 8, "%06o", sum);
    // Jump over the data the size field claims, when it is plausible, so
    // that data blocks keep the fuzzer's bytes.
    unsigned long size = strtoul(std::string(block + 124, 12).c_str(), nullptr, 8);
    if (size < archive->size()) pos += (size + 511) / 512 * 512;
  }
}
