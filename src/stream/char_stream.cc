#include "stream/char_stream.h"

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

}  // namespace mz
