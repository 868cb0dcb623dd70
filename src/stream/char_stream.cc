#include "stream/char_stream.h"

#include <cstdio>

namespace mz {

int IsHardError(int32_t code) {
  switch (code) {
    case -5:
    case -7:
    case -12:
    case -71:
    case -92:
      return 1;
    default:
      return 0;
  }
}

int32_t SeekInMemory(int32_t* position, int32_t length, int32_t offset, int32_t origin,
                     int32_t badOrigin, int32_t outside) {
  int64_t target = offset;
  if (origin == 1) {
    target += *position;
  } else if (origin == 2) {
    target += length;
  } else if (origin != 0) {
    return badOrigin;
  }
  if (target < 0 || target > length) return outside;
  *position = static_cast<int32_t>(target);
  return 0;
}

int32_t PrintfInMemory(CharStream* stream, char* scratch, int32_t scratchSize, void (*overflow)(),
                       const char* format, va_list arguments) {
  if (scratch == nullptr) return scratchSize < 1 ? kStreamNoScratch : kStreamScratchLost;
  const int length =
      std::vsnprintf(scratch, static_cast<std::size_t>(scratchSize), format, arguments);
  if (length < 0) return kStreamIoError;  // the arguments could not be formatted
  if (length >= scratchSize) overflow();
  return stream->Write(stream, scratch, length);
}

}  // namespace mz
