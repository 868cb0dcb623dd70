// What the platform's own calls need of code-page conversion.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Text in the default ANSI code page (Windows-1252), where every byte
// decodes.
std::u16string AnsiToUtf16(std::string_view ansi);

}  // namespace platform
