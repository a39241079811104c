// The archive the commands work on: naming it to the module, and telling
// in words why it could not be opened, listed or changed.
#pragma once

#include <string>

#include "options.h"

// Names the archive to the module (InitArcFile); answers the status.
unsigned NameArchive(const Options& o);

// The compression an archive's first bytes show, by its usual name ("gzip",
// "lzip", ...), or "" for a plain archive or none votar knows. As the
// module does, a first block that reads as a tar header is plain.
std::string CompressionOf(const std::string& path);
// The compression a new archive's name asks for that the module does not
// write ("compress", "lzip", ...), or "".
std::string UnwrittenCompression(const std::string& name);
// Whether the module reads that compression.
bool ModuleReads(const std::string& compression);

// Tells why the archive could not be named; answers the exit status.
int OpenFailed(const Options& o, unsigned status);

// "1 member", "2 members".
std::string Members(int count);

// After a listing or a change failed: whether the archive reads as
// damaged, and how many members come before the damage.
bool DamagedAfter(const Options& o, int* members);

// Whether the members listed need more bytes than the archive holds: its
// end was cut off.
bool CutShort(const Options& o);

// Why a change of the archive (an add or a delete) failed, as far as votar
// can tell once it is over: in use, read-only, damaged, and so on.
std::string WhyChangeFailed(const Options& o, unsigned status);
