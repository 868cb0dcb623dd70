// vCard files as the host handles them: cut into cards for the library, and
// the few fields a listing shows read back out of a card.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mzhost {

// One card cut out of a file.
struct Card {
  std::string text;       // from its BEGIN:VCARD line through END:VCARD, every line ending CR LF
  std::size_t line = 0;   // 1-based line of its BEGIN:VCARD in the file
  std::size_t index = 0;  // 1-based position among the file's cards
  bool complete = true;   // false: the file ended before the card's END:VCARD
};

// Cuts a file into its vCards. Lines may end in CR LF, LF or a lone CR; each
// card's lines are rewritten to end in CR LF, the line end the library reads.
// BEGIN:VCARD and END:VCARD are recognised without regard to case or blanks
// around the colon; a card nested inside another (an AGENT) stays part of the
// outer card. Text outside cards (other objects, blank lines, a UTF-8 byte
// order mark) is skipped. A zero byte is kept: the caller decides about it.
std::vector<Card> SplitCards(std::string_view file);

// Decodes quoted-printable text: "=XX" (either case) gives its byte, a
// malformed escape stays as it is, and a final "=" (a soft break the text
// ended after) goes.
std::string DecodeQuotedPrintable(std::string_view text);

// What a contact listing shows of a card, UTF-8 where the card's text is.
struct CardSummary {
  std::string name;   // FN; else N's given and family names joined by a space
  std::string tel;    // the first TEL value
  std::string email;  // the first EMAIL value
};

// Reads a card's summary: folded lines are joined, quoted-printable values
// (soft line breaks included) decoded, and the escapes \; \, \\ undone.
// Missing fields stay empty; bad text never fails, it only yields less.
CardSummary Summarize(std::string_view card);

}  // namespace mzhost
