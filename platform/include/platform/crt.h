// The phone's C runtime file functions.
//
// The phone's C runtime opens files by phone path ("\Temp\temp.txt"), given
// in the default ANSI code page (Windows-1252), never by host path; it
// lives in a namespace of its own so that it cannot be mistaken for, or
// interpose on, the host's C library. A path resolves inside the device's
// fs/ folder under the rules of platform/files.h: ".." above the root, a
// symbolic link leading out of fs/ (also as the last name, and also a
// dangling one) and anything but a regular file are refused, so whatever the
// device folder is called and whatever was planted in fs/, nothing outside it
// is read or written.
//
// The stream that comes back is a standard-I/O stream: fputc, fgetc, fread,
// fwrite, fprintf, fseek, ftell, fflush, feof, ferror and fclose work on it
// as usual, with the usual buffering. Its transfers to and from the file pass
// the fault points "fwrite", "fread" and "fseek", so that a test can make
// the disk fill up (an injected result is the errno the transfer fails with,
// such as ENOSPC); with buffering, a failed write shows at the flush that
// carries it.
#pragma once

#include <cstdio>

namespace crt {

// Opens `path` with a standard-I/O mode: "r", "w" or "a", each optionally
// with "+", and "b" or "t" (both ignored: files are bytes). Null with errno
// set on failure: ENOENT (missing file or folder), EACCES (a refused path or
// not a regular file), EINVAL (a bad mode or malformed path), ENODEV (no
// device), or the host's errno; the fault point "fopen" fails with the
// injected errno.
std::FILE* fopen(const char* path, const char* mode);

}  // namespace crt
