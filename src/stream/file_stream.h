// FileStream: a CharStream over a standard-I/O file, which it owns.
//
// End of file and a read failure both read as kStreamEnd from GetChar; Read
// tells them apart (0 at the end, kStreamIoError on failure). Every other
// standard-I/O failure gives kStreamIoError and the stream stays usable.
// UngetChar is a relative seek, so it works for any byte that was read.
#pragma once

#include "stream/char_stream.h"

namespace mz {

// Opens `path` (narrow text) with fopen in `mode`. Null, with nothing
// allocated, when either is null, when the file cannot be opened, or when
// the stream cannot be allocated (the file is closed again then). Release
// with the Close slot. A negative count to Read or Write moves no byte.
CharStream* FileStream_open(const char* path, const char* mode);

}  // namespace mz
