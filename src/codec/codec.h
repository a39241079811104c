// Compressed archives: which codec an archive is in, by its first bytes or
// by the name of a new one, and the decoders and encoders that stand
// between the tar reader or writer and the file. A decoder is a byte source
// over the compressed bytes; an encoder is a byte sink over the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../base/bytes.h"

enum Codec : uint8_t {
  kCodecNone,  // plain tar
  kCodecGzip,
  kCodecXz,
  kCodecZstd,
  kCodecBzip2,
};

// The codec whose signature `head` (its first `n` bytes) starts with:
// gzip 1F 8B; xz FD 37 7A 58 5A 00; zstd 28 B5 2F FD, or skippable frames
// (50..5F 2A 4D 18) before it; bzip2 "BZh", a digit 1 to 9 and the block
// (31 41 59 26 53 59) or end-of-stream (17 72 45 38 50 90) magic.
// kCodecNone for anything else.
Codec CodecOfSignature(const unsigned char* head, size_t n);

// The codec a new archive's name asks for, in any case: .gz .tgz .taz
// gzip; .xz .txz xz; .zst .tzst zstd; .bz2 .tbz .tbz2 .tb2 .tz2 bzip2.
// kCodecNone for every other name.
Codec CodecOfName(const char* path);
// Whether the name asks for a compression the module does not write:
// compress (.Z, .taZ), lzip (.lz, .tlz), lzma (.lzma), lz4 (.lz4) or lzop
// (.lzo, .tzo). Such a new archive is refused, never written plain.
bool NamesUnwrittenCodec(const char* path);

// ---------------------------------------------------------------- decoding

// How a decoder stands.
enum DecodeState : uint8_t {
  kDecoding,        // more may come
  kDecodeEnded,     // every stream ended whole; what follows is zeros or nothing
  kDecodeTrailing,  // every stream ended whole, then bytes that are no stream
  kDecodeDamaged,   // bad data or a failed check (CRC32, CRC64, content
                    // checksum, block CRC), or the bytes ended inside a stream
  kDecodeTooLarge,  // a stream needs more memory than the limit
  kDecodeFailed,    // the compressed bytes could not be read, or no memory
};

// What a decoder holds; opaque outside codec/.
struct Decoder;

// Decoded bytes of a compressed source, read front to back. Concatenated
// gzip members, xz streams, zstd frames (skippable ones passed over) and
// bzip2 streams read as one. Moves go forward, and back within the last
// kDecoderHistory bytes handed out, so that a sparse map read just before
// can be read again; `length` answers -1 until the decoding has ended, and
// then the bytes decoded. Memory: at most the codec's window (xz up to its
// memory limit, zstd windows up to 2^27 bytes) and the history.
struct DecoderSource : ByteSource {
  Decoder* decoder;
};
const size_t kDecoderHistory = 1 << 20;
// The xz decoder's memory limit; a stream beyond it is kDecodeTooLarge.
const uint64_t kXzMemoryLimit = uint64_t{256} << 20;

// Starts decoding `compressed` from its position; false when there is no
// memory for the decoder. `compressed` must outlive the decoder.
bool StartDecoder(DecoderSource* s, Codec codec, ByteSource* compressed);
void EndDecoder(DecoderSource* s);
DecodeState DecoderState(const DecoderSource& s);
// The compressed bytes taken from `compressed` so far.
int64_t CompressedBytesRead(const DecoderSource& s);

// ---------------------------------------------------------------- encoding

// What an encoder holds; opaque outside codec/.
struct Encoder;

// Bytes written to it are compressed into `out` at the codec's usual level
// (gzip 6, xz 6, zstd 3, bzip2 9): one stream, in the codec's own format.
// gzip, xz and zstd use up to `threads` threads (xz and zstd as many as fit
// an encoder budget of 512 MiB), and one when the threaded encoder cannot
// be set up; every thread has ended when EndEncoder returns.
struct EncoderSink : ByteSink {
  Encoder* encoder;
};
// False when there is no memory for the encoder.
bool StartEncoder(EncoderSink* s, Codec codec, ByteSink* out, int threads);
// Writes the end of the stream; false when something was written short.
bool FinishEncoder(EncoderSink* s);
void EndEncoder(EncoderSink* s);
