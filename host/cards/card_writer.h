// The library's vCard 2.1 text (what MZ_GetContactInfo gives) written as
// vCard 3.0 or 4.0, for the programs that read only those.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mzhost {

enum class CardFormat { k21, k30, k40 };

// "2.1", "3.0" or "4.0"; none for anything else.
std::optional<CardFormat> ParseCardFormat(std::string_view text);

// `card` (any version; the library's 2.1 text in practice) in `format`. 2.1
// gives the text unchanged. 3.0 and 4.0 (RFC 6350) carry what the phone
// keeps, with FN made from the name, the categories (GRP) as CATEGORIES and
// the id line X-IRMC-LUID; lines are folded at 75 bytes, between characters.
std::string WriteCard(std::string_view card, CardFormat format);

}  // namespace mzhost
