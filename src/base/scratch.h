// The scratch file the vCard exports share: "temp.txt" in the system's
// temporary directory.
#pragma once

#include "platform/types.h"

namespace mz {

// Writes the scratch path as UTF-16 into `wide` (capacity in characters) and
// in the default ANSI code page into `narrow` (capacity in bytes). Returns
// the bytes written to `narrow` including the terminator, or 0 when the path
// cannot be made or does not fit; `narrow` then holds an empty text, which no
// file stream opens. Callers pass 260 and 260.
int ScratchFilePath(char* narrow, int narrowCapacity, WCHAR* wide, int wideCapacity);

}  // namespace mz
