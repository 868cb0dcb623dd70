// FileStream: a CharStream over a file of the phone, opened through the
// phone's C runtime (platform/crt.h), which it owns.
//
// Reads go through a block read ahead of the position, so that GetChar and
// UngetChar right after it stay in memory; any other UngetChar is a relative
// seek, so it works for any byte that was read. The writes first bring the
// file back to the stream's position, with a seek when bytes were read
// ahead. End of file and a read failure both read as kStreamEnd from
// GetChar; Read tells them apart (0 at the end, kStreamIoError on failure).
// Every other standard-I/O failure gives kStreamIoError and the stream stays
// usable.
//
// Since callers may ignore single results (the vCard writer's are never
// examined) and buffered bytes reach the file only later, the stream also
// remembers whether any transfer failed: FileStream_failed.
#pragma once

#include "stream/char_stream.h"

namespace mz {

// Opens `path`, a phone path in the default ANSI code page, in the
// standard-I/O `mode`. Null, with nothing
// allocated, when either is null, when the file cannot be opened, or when
// the stream cannot be allocated (the file is closed again then). Release
// with the Close slot. A negative count to Read or Write moves no byte.
CharStream* FileStream_open(const char* path, const char* mode);

// Whether a byte written, flushed, read or passed over may have been lost:
// true once a write, flush, seek or read has failed (a read failure is not
// the end of the data), or a write moved fewer bytes than asked. Stepping
// back from the start (UngetChar's kStreamCannotStepBack at position 0) is
// no failure. `stream` must come from FileStream_open.
bool FileStream_failed(CharStream* stream);

}  // namespace mz
