// Files and folders for the fuzz targets, and the checksum trick.
#pragma once

#include <string>

std::string MakeWorkDir();  // a fresh folder for this process
void ClearDir(const std::string& dir);
void WriteBytes(const std::string& path, const std::string& bytes);
// The module takes paths with "\" separators.
std::string ModuleForm(std::string path);
// Aborts when the folder holds anything but a.tar, add.txt and out/, or a
// temporary file of the module.
void CheckNothingOutside(const std::string& work);
// Puts valid checksums into every header-sized block, jumping over the data
// a plausible size field claims, so that the fuzzer reaches the fields
// behind the checksum.
void FixChecksums(std::string* archive);
