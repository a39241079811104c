#include "streams.h"

PfFile* gInput = nullptr;
PfFile* gOutput = nullptr;
PfFile* gSource = nullptr;

void CloseStream(PfFile** stream) {
  if (*stream != nullptr) PfClose(*stream);
  *stream = nullptr;
}
