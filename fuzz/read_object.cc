// Feeds arbitrary bytes to the object reader, with both records, object
// after object, the way a multi-object file is read. The input is copied to
// an exact-size block so that a read past its end leaves the heap block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/abs_file_mem.h"
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  const auto length = static_cast<int32_t>(size);
  mz::CharStream* stream = mz::AbsFileMem_create(bytes.data(), length, length, 0);
  if (stream == nullptr) return 0;
  static mz::ContactRecord contact;
  static mz::CalendarRecord calendar;
  // Every call that reads something moves the position on; one that does
  // not would read the same bytes forever.
  for (int32_t before = -1; stream->Tell(stream) > before;) {
    before = stream->Tell(stream);
    int32_t type = 0;
    const int32_t result = mz::ReadObject(stream, &type, &contact, 0, &calendar);
    if (result < 0 && mz::IsHardError(result)) break;
  }
  stream->Close(stream);
  return 0;
}
