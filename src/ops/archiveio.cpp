#include "archiveio.h"

#include "../tar/format.h"
#include "../tar/header.h"

Codec ArchiveCodec(ByteSource* raw) {
  unsigned char head[kBlockSize] = {};
  size_t got = SourceMoveTo(raw, 0) ? SourceRead(raw, head, sizeof head) : 0;
  SourceMoveTo(raw, 0);
  if (got == sizeof head && (IsAllZero(head, got) || ReadsAsHeader(head))) return kCodecNone;
  return CodecOfSignature(head, got);
}

Outcome StartArchiveInput(ArchiveInput* in, PfFile* file) {
  in->file = file;
  in->fileSize = PfLength(file);
  in->decoded.decoder = nullptr;
  StartFileSource(&in->raw, file);
  in->source = &in->raw;
  in->codec = ArchiveCodec(&in->raw);
  if (in->codec == kCodecNone) return kDone;
  if (!SourceMoveTo(&in->raw, 0)) return kFailed;
  if (!StartDecoder(&in->decoded, in->codec, &in->raw)) return kOutOfMemory;
  in->source = &in->decoded;
  return kDone;
}

void EndArchiveInput(ArchiveInput* in) {
  EndDecoder(&in->decoded);
  in->codec = kCodecNone;
  in->source = &in->raw;
}

ScanEnd InputScanEnd(const ArchiveInput& in, const TarReader& r, ScanEnd end) {
  if (in.codec == kCodecNone || end == kScanStopped || end == kScanOutOfMemory) return end;
  switch (DecoderState(in.decoded)) {
    case kDecodeDamaged:
    case kDecodeTooLarge:
    case kDecodeFailed:
      return kScanDamaged;
    case kDecodeTrailing:
      return r.afterZeros ? end : kScanDamaged;
    default:
      return end;
  }
}

Outcome RestartArchiveInput(ArchiveInput* in) {
  EndArchiveInput(in);
  return StartArchiveInput(in, in->file);
}

Outcome StartArchiveOutput(ArchiveOutput* out, PfFile* file, Codec codec) {
  StartTarWriter(&out->writer, file);
  out->codec = codec;
  out->encoder.encoder = nullptr;
  if (codec == kCodecNone) return kDone;
  int threads = PfProcessorCount() < 4 ? PfProcessorCount() : 4;
  if (!StartEncoder(&out->encoder, codec, &out->writer.fileSink, threads)) return kOutOfMemory;
  out->writer.sink = &out->encoder;
  return kDone;
}

Outcome FinishArchiveOutput(ArchiveOutput* out) {
  if (out->codec == kCodecNone) return kDone;
  return FinishEncoder(&out->encoder) ? kDone : kWriteFailed;
}

void EndArchiveOutput(ArchiveOutput* out) {
  EndEncoder(&out->encoder);
  EndTarWriter(&out->writer);
}

bool EndArchive(TarWriter* out) {
  if (WriteEndMarker(out)) return true;
  SetStatus(StatusWriteError);
  return false;
}
