// gzip compressed on several threads, block by block, into one member.
#pragma once

#include <cstddef>

#include "../base/bytes.h"

struct BlockDeflater;

// Starts `threads` workers (at most four) writing to `out`; null when there
// is no memory or no thread.
BlockDeflater* StartBlockDeflater(int threads, ByteSink* out);
// False once anything could not be written or compressed.
bool DeflateBytes(BlockDeflater* d, const unsigned char* bytes, size_t n);
// The last block and the trailer.
bool FinishBlockDeflater(BlockDeflater* d);
// Ends the workers, whatever they were doing, and frees everything.
void EndBlockDeflater(BlockDeflater* d);
