#include "base/scratch.h"

#include "platform/files.h"
#include "platform/text.h"

namespace mz {

int ScratchFilePath(char* narrow, int narrowCapacity, WCHAR* wide, int wideCapacity) {
  if (narrow == nullptr || narrowCapacity < 1 || wide == nullptr || wideCapacity < 1) return 0;
  narrow[0] = 0;
  wide[0] = 0;
  static constexpr WCHAR kName[] = u"temp.txt";
  constexpr int kNameChars = static_cast<int>(sizeof kName / sizeof kName[0]) - 1;
  const DWORD directory = GetTempPathW(static_cast<DWORD>(wideCapacity), wide);
  // A directory that does not fit gives the size it needs instead.
  if (directory == 0 || directory >= static_cast<DWORD>(wideCapacity) ||
      static_cast<int>(directory) + kNameChars >= wideCapacity) {
    wide[0] = 0;
    return 0;
  }
  for (int i = 0; i <= kNameChars; ++i) wide[directory + i] = kName[i];
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, narrowCapacity, nullptr, nullptr);
  if (bytes == 0) narrow[0] = 0;
  return bytes;
}

}  // namespace mz
