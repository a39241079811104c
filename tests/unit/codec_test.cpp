// The codecs: signatures and names, and each decoder against whole, joined,
// padded, trailed, cut and damaged streams of its encoder and of the codec's
// own program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/codec.h"
#include "files.h"

namespace {

struct StringSink : ByteSink {
  std::string bytes;
};

size_t AppendBytes(ByteSink* s, const void* buf, size_t n) {
  static_cast<StringSink*>(s)->bytes.append(static_cast<const char*>(buf), n);
  return n;
}
const ByteSinkOps kStringSink = {AppendBytes};

std::string Encode(Codec codec, const std::string& data, int threads = 1) {
  StringSink out;
  out.ops = &kStringSink;
  out.file = nullptr;
  EncoderSink enc;
  EXPECT_TRUE(StartEncoder(&enc, codec, &out, threads));
  // In uneven pieces, as the writer hands them over.
  for (size_t at = 0; at < data.size(); at += 70001) {
    std::string piece = data.substr(at, 70001);
    EXPECT_EQ(piece.size(), SinkWrite(&enc, piece.data(), piece.size()));
  }
  EXPECT_TRUE(FinishEncoder(&enc));
  EndEncoder(&enc);
  return out.bytes;
}

struct Decoded {
  std::string bytes;
  DecodeState state;
  int64_t length;
};

Decoded Decode(Codec codec, const std::string& compressed) {
  MemorySource in;
  StartMemorySource(&in, compressed.data(), compressed.size());
  DecoderSource dec;
  EXPECT_TRUE(StartDecoder(&dec, codec, &in));
  Decoded d;
  char buf[5000];
  for (size_t got; (got = SourceRead(&dec, buf, sizeof buf)) > 0;) d.bytes.append(buf, got);
  d.state = DecoderState(dec);
  d.length = SourceLength(&dec);
  EndDecoder(&dec);
  return d;
}

// What the codec's program makes of `data` with `options`.
std::string Program(Codec codec, const std::string& options, const std::string& data) {
  static const char* const kPrograms[] = {"", "gzip", "xz", "zstd -q", "bzip2"};
  std::string dir = MakeTempDir();
  WriteFile(Join(dir, "in"), data);
  std::string in = UnixPath(Join(dir, "in"));
  std::string out = UnixPath(Join(dir, "out"));
  std::string output;
  EXPECT_EQ(0, RunCommand(std::string(kPrograms[codec]) + " " + options + " -c <'" + in + "' >'" +
                              out + "'",
                          &output))
      << output;
  std::string bytes = ReadFile(Join(dir, "out"));
  RemoveTree(dir);
  return bytes;
}

const Codec kCodecs[] = {kCodecGzip, kCodecXz, kCodecZstd, kCodecBzip2};

}  // namespace

TEST(Codec, SignaturesAndNames) {
  struct Row {
    int line;
    std::string head;
    Codec want;
  } rows[] = {
      {__LINE__, "\x1F\x8B\x08", kCodecGzip},
      {__LINE__, std::string("\xFD" "7zXZ\0", 6), kCodecXz},
      {__LINE__, "\x28\xB5\x2F\xFD", kCodecZstd},
      {__LINE__, std::string("\x50\x2A\x4D\x18\x02\0\0\0ab\x28\xB5\x2F\xFD", 14), kCodecZstd},
      {__LINE__, "BZh91AY&SY", kCodecBzip2},
      {__LINE__, "BZh9\x17\x72\x45\x38\x50\x90", kCodecBzip2},
      {__LINE__, "BZh9 notes", kCodecNone},
      {__LINE__, "BZh0" "1AY&SY", kCodecNone},
      {__LINE__, "LZIP", kCodecNone},
      {__LINE__, "\x1F\x9D", kCodecNone},  // compress
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.want, CodecOfSignature(reinterpret_cast<const unsigned char*>(row.head.data()),
                                         row.head.size()))
        << "line " << row.line;
  }
  struct Name {
    const char* name;
    Codec want;
  } names[] = {
      {"a.tar.gz", kCodecGzip}, {"A.TGZ", kCodecGzip},  {"a.taz", kCodecGzip},
      {"a.txz", kCodecXz},      {"a.tar.ZST", kCodecZstd}, {"a.tzst", kCodecZstd},
      {"a.tbz2", kCodecBzip2},  {"a.tb2", kCodecBzip2}, {"a.tz2", kCodecBzip2},
      {"a.tar", kCodecNone},    {"a.taZ", kCodecNone},  {"a.tar.Z", kCodecNone},
      {"gz", kCodecNone},
  };
  for (const Name& n : names) EXPECT_EQ(n.want, CodecOfName(n.name)) << n.name;
  for (const char* name : {"a.taZ", "a.tar.Z", "a.tar.lz", "a.TLZ", "a.tar.lzma", "a.tar.lz4",
                           "a.tzo"}) {
    EXPECT_TRUE(NamesUnwrittenCodec(name)) << name;
  }
  EXPECT_FALSE(NamesUnwrittenCodec("a.taz") || NamesUnwrittenCodec("a.tar.gz"));
}

TEST(Codec, StreamsWholeJoinedPaddedTrailedCutDamaged) {
  const std::string a = Pattern(300000, 1);
  const std::string b = "second stream";
  enum Shape { kWhole, kJoined, kPadded, kTrailed, kCut, kFlipped, kEmpty };
  struct Row {
    Shape shape;
    DecodeState state;
    bool bytesWhole;  // the decoded bytes are all that was encoded
  } rows[] = {
      {kWhole, kDecodeEnded, true},    {kJoined, kDecodeEnded, true},
      {kPadded, kDecodeEnded, true},   {kTrailed, kDecodeTrailing, true},
      {kCut, kDecodeDamaged, false},   {kFlipped, kDecodeDamaged, false},
      {kEmpty, kDecodeDamaged, false},
  };
  for (Codec codec : kCodecs) {
    // One stream made with threads, one without.
    const std::string ea = Encode(codec, a, 3);
    const std::string eb = Encode(codec, b);
    for (const Row& row : rows) {
      std::string where = "codec " + std::to_string(codec) + ", shape " + std::to_string(row.shape);
      std::string in = ea;
      std::string want = a;
      if (row.shape == kJoined) in += eb, want += b;
      if (row.shape == kPadded) in += std::string(10240, '\0');
      if (row.shape == kTrailed) in += "not a stream at all";
      if (row.shape == kCut) in.resize(in.size() - 9);
      // A byte of the stored check: the last bytes of every format but
      // gzip's, whose CRC32 stands before the size.
      if (row.shape == kFlipped) in[in.size() - (codec == kCodecGzip ? 8 : 2)] ^= 0x10;
      if (row.shape == kEmpty) in.clear();
      Decoded d = Decode(codec, in);
      EXPECT_EQ(row.state, d.state) << where;
      if (row.bytesWhole) {
        EXPECT_TRUE(d.bytes == want) << where << ": " << d.bytes.size() << " bytes";
        EXPECT_EQ(static_cast<int64_t>(want.size()), d.length) << where;
      } else {
        EXPECT_EQ(-1, d.length) << where;
        EXPECT_TRUE(want.compare(0, d.bytes.size(), d.bytes) == 0) << where;
      }
    }
  }
}

// A gzip header may carry an extra field, a name, a comment and its own
// check before the data.
TEST(Codec, GzipHeaderFields) {
  const std::string data = "data after a long header";
  std::string fields = std::string("\x1F\x8B\x08\x1E", 4) + std::string(6, '\0') +
                       std::string("\x03\0abc", 5) + std::string("name\0comment\0hc", 15);
  Decoded d = Decode(kCodecGzip, fields + Encode(kCodecGzip, data).substr(10));
  EXPECT_EQ(kDecodeEnded, d.state);
  EXPECT_EQ(data, d.bytes);
  fields[3] = '\x20';  // a flag no gzip has
  EXPECT_EQ(kDecodeDamaged, Decode(kCodecGzip, fields + Encode(kCodecGzip, data).substr(10)).state);
}

// What the programs write, multi-threaded and in pieces, reads as one
// stream; a window beyond the limit is refused, never allocated.
TEST(Codec, ProgramsOutputAndLimits) {
  if (!PeersAvailable()) GTEST_SKIP() << "no codec programs";
  const std::string data = Pattern(3000000, 2);
  struct Row {
    int line;
    Codec codec;
    std::string options;
    DecodeState state;
  } rows[] = {
      {__LINE__, kCodecGzip, "-6", kDecodeEnded},
      {__LINE__, kCodecXz, "-T2 --block-size=1MiB", kDecodeEnded},
      {__LINE__, kCodecZstd, "-T2 --long=27", kDecodeEnded},
      {__LINE__, kCodecBzip2, "-1", kDecodeEnded},
      {__LINE__, kCodecXz, "--lzma2=dict=1536MiB", kDecodeTooLarge},
      {__LINE__, kCodecZstd, "--zstd=wlog=30 --long=30 --no-content-size", kDecodeTooLarge},
  };
  for (const Row& row : rows) {
    Decoded d = Decode(row.codec, Program(row.codec, row.options, data));
    EXPECT_EQ(row.state, d.state) << "line " << row.line;
    if (row.state == kDecodeEnded) {
      EXPECT_TRUE(d.bytes == data) << "line " << row.line;
    }
  }
  // What the encoders write with threads, each codec's program reads back.
  for (Codec codec : kCodecs) {
    static const char* const kTests[] = {"", "gzip -dc", "xz -dc", "zstd -qdc", "bzip2 -dc"};
    std::string dir = MakeTempDir();
    WriteFile(Join(dir, "data"), data);
    WriteFile(Join(dir, "packed"), Encode(codec, data, 2));
    std::string output;
    EXPECT_EQ(0, RunCommand(std::string(kTests[codec]) + " <'" + UnixPath(Join(dir, "packed")) +
                                "' | cmp - '" + UnixPath(Join(dir, "data")) + "'",
                            &output))
        << codec << ": " << output;
    RemoveTree(dir);
  }
  // pigz writes a member per stream it is handed: two of them join.
  std::string joined = Program(kCodecGzip, "", "one ") + Program(kCodecGzip, "", "two");
  EXPECT_EQ("one two", Decode(kCodecGzip, joined).bytes);
}

TEST(Codec, MovesBackOnlyWithinTheHistory) {
  const std::string data = Pattern(9000000, 3);
  std::string compressed = Encode(kCodecZstd, data, 2);
  MemorySource in;
  StartMemorySource(&in, compressed.data(), compressed.size());
  DecoderSource dec;
  ASSERT_TRUE(StartDecoder(&dec, kCodecZstd, &in));
  char buf[100];
  ASSERT_TRUE(SourceMoveTo(&dec, 7500000));
  ASSERT_EQ(sizeof buf, SourceRead(&dec, buf, sizeof buf));
  EXPECT_EQ(data.substr(7500000, 100), std::string(buf, 100));
  ASSERT_TRUE(SourceMoveTo(&dec, 7500000 - static_cast<int64_t>(kDecoderHistory) + 200));
  ASSERT_EQ(sizeof buf, SourceRead(&dec, buf, sizeof buf));
  EXPECT_EQ(data.substr(7500000 - kDecoderHistory + 200, 100), std::string(buf, 100));
  EXPECT_FALSE(SourceMoveTo(&dec, 100));
  EXPECT_TRUE(SourceMoveTo(&dec, 9500000));  // past the end, as in a file
  EXPECT_EQ(0u, SourceRead(&dec, buf, sizeof buf));
  EXPECT_EQ(kDecodeEnded, DecoderState(dec));
  EndDecoder(&dec);
}
