// The archive as an operation reads and writes it: the open file, and a
// decoder over it when its first bytes say it is compressed, or an encoder
// when it is to be written compressed.
#pragma once

#include "../base/bytes.h"
#include "../base/status.h"
#include "../codec/codec.h"
#include "../platform/platform.h"
#include "../tar/reader.h"
#include "../tar/writer.h"

struct ArchiveInput {
  PfFile* file;  // the caller's, open from before until after; while a
                 // decoder reads it (on a thread of its own), nobody else
  int64_t fileSize;  // of the file, as it was when the input started
  Codec codec;
  FileSource raw;
  DecoderSource decoded;
  ByteSource* source;  // what the tar reader reads: `raw` or `decoded`
};

// The codec of the archive `raw` reads, from its start; it is left at its
// start again. Plain first: 512 bytes that read as a header, or are all
// zero, make a plain archive whatever follows; only otherwise does a
// signature choose a codec.
Codec ArchiveCodec(ByteSource* raw);

// Starts reading `file` from its start, through a decoder when it is
// compressed. kOutOfMemory when the decoder cannot be set up, kFailed when
// the file cannot be read.
Outcome StartArchiveInput(ArchiveInput* in, PfFile* file);
void EndArchiveInput(ArchiveInput* in);
// Reads the file from its start again, through a new decoder.
Outcome RestartArchiveInput(ArchiveInput* in);

// How a scan of the input ended, with the decoder's word taken in: when the
// decoding failed (bad data, a failed check, bytes cut short, a stream past
// the memory limit), the archive is damaged where the scan stopped; bytes
// after the last stream are outside the archive once its end marker was
// read, and damage otherwise.
ScanEnd InputScanEnd(const ArchiveInput& in, const TarReader& r, ScanEnd end);

// A new archive, or an archive rebuilt, written to `file`.
struct ArchiveOutput {
  TarWriter writer;  // what the entries are written to
  Codec codec;
  EncoderSink encoder;
};
// Starts writing `file`, compressed with `codec` (kCodecNone: plain), with
// as many threads as the encoder takes, at most one a processor and four.
// kOutOfMemory when the encoder cannot be set up.
Outcome StartArchiveOutput(ArchiveOutput* out, PfFile* file, Codec codec);
// Writes the end of a compressed stream; kWriteFailed when written short.
Outcome FinishArchiveOutput(ArchiveOutput* out);
void EndArchiveOutput(ArchiveOutput* out);

// The end-of-archive marker; false, with StatusWriteError, when written
// short.
bool EndArchive(TarWriter* out);
