// The JSON lines vcardinfo prints: what the library's object reader makes of
// each object of a vCard/vCalendar text, one line per object (the format is
// described in vcardinfo.cc).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mztools {

// Reads the objects of `data` one after another through a memory stream and
// passes the output to `write` in pieces of whole lines. Stops at the data
// end, on a hard stream error, or when the reader makes no progress. False
// when no stream could be made (out of memory); `data` must be shorter than
// 2 GiB, since stream positions are 32-bit.
bool DescribeObjects(std::string& data, const std::function<void(std::string_view)>& write);

}  // namespace mztools
