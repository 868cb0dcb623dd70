// The vObject tokenizer: four routines that pull vCard and vCalendar text
// byte by byte from a CharStream.
//
// All four leave the byte that ends their work in the stream (UngetChar)
// when the next reader needs it. A hard stream failure (IsHardError) is
// passed straight back; any other negative stream result, notably
// kStreamEnd, only ends the current token, value or line.
//
// Byte sets (delimiters, skip set) are zero-terminated strings tested as
// strchr would, so the byte 0 belongs to every set, the empty one included;
// a null set means the empty one.
#pragma once

#include <cstdint>

#include "stream/char_stream.h"
#include "stream/text_buffer.h"

namespace mz {

// Token results of ReadToken besides a delimiter byte and a negative code.
// There is no kind 258.
inline constexpr int32_t TOKEN_QUOTED = 256;  // text between double quotes
inline constexpr int32_t TOKEN_WORD = 257;    // a bare word
inline constexpr int32_t TOKEN_CRLF = 259;    // CR followed by LF
inline constexpr int32_t TOKEN_CR = 13;       // CR not followed by LF

// Cuts the next token from `stream` into `buffer` (cleared first; null reads
// and discards the token). Bytes of `skipSet` before the token are dropped.
// Returns:
//   a delimiter byte    the buffer holds that byte;
//   TOKEN_QUOTED        the text between the quotes; a backslash inside
//                       always makes the next byte literal; the end of the
//                       data closes an unterminated string;
//   TOKEN_WORD          a run up to a delimiter, CR or double quote, which
//                       stays in the stream; with `escapes` set a backslash
//                       is dropped and makes the next byte part of the word;
//   TOKEN_CRLF          the buffer holds CR LF;
//   TOKEN_CR            the buffer holds CR; a byte after it stays in the
//                       stream;
//   negative            the stream's code when the data ended (or failed)
//                       before a token began, or a hard error met inside a
//                       token (or any non-end failure inside a quoted
//                       string); the buffer keeps what was collected.
// A null stream gives kStreamInvalidArgument. A buffer that cannot grow
// truncates the text; the kind is unaffected.
int32_t ReadToken(CharStream* stream, TextBuffer* buffer, const char* delimiters,
                  const char* skipSet, int escapes);

// ReadToken with spaces and tabs skipped and escapes off.
int32_t ReadTokenSkipBlanks(CharStream* stream, TextBuffer* buffer, const char* delimiters);

// Copies one property value from `input` to `output` (a MemBuf here) up to
// the CR LF that ends it; the byte that begins the next line stays in the
// input. With `unfold` a line break followed by a space or tab is a fold:
// CR, LF and that blank are dropped. With `softBreaks` as well, a line break
// after "=" joins the lines and the "=" is overwritten (the output steps
// back one byte with Seek). A CR not followed by LF is value text. Returns
// how far the output's Tell moved, or a hard error code. Bytes the output
// refuses are lost without notice.
int32_t ReadFoldedValue(CharStream* input, CharStream* output, int unfold, int softBreaks);

// ReadFoldedValue into any `output` that has PutChar(byte), StepBack() (the
// Seek back one byte) and Tell(), so that a reader can collect a value
// without a call through the stream slots for each byte. The input is not
// null.
template <typename Output>
int32_t ReadFoldedValueInto(CharStream* input, Output& output, int unfold, int softBreaks);

// Consumes bytes through the CR LF that ends the current line; with
// `unfold`, also the continuation lines that begin with a space or tab.
// A CR followed by anything but LF does not end the line, and the byte
// after such a CR is dropped unexamined. Returns 0 (the end of the data
// included), or a hard error code.
int32_t SkipLine(CharStream* stream, int unfold);

// --- ReadFoldedValueInto -----------------------------------------------------

namespace tokenizer_detail {

inline constexpr int32_t kCr = 13;
inline constexpr int32_t kLf = 10;

inline bool IsBlank(int32_t byte) {
  return byte == ' ' || byte == '\t';
}

// What follows a CR LF inside a value.
enum class BreakOutcome { kEnds, kContinues };

// Called with the line break consumed; `prev` is the byte before it and is
// updated when the value goes on. `end` receives a negative read.
template <typename Output>
BreakOutcome ContinueAfterBreak(CharStream* input, Output& output, int softBreaks, int32_t* prev,
                                int32_t* end) {
  const int32_t c = input->GetChar(input);
  if (c < 0) {
    *end = c;
    return BreakOutcome::kEnds;
  }
  if (c == kCr) {
    // An empty line follows: it belongs to the next reader.
    input->UngetChar(input);
    return BreakOutcome::kEnds;
  }
  if (IsBlank(c)) {
    *prev = c;
    return BreakOutcome::kContinues;
  }
  if (softBreaks != 0 && *prev == '=') {
    output.StepBack();
    output.PutChar(c);
    *prev = c;
    return BreakOutcome::kContinues;
  }
  input->UngetChar(input);
  return BreakOutcome::kEnds;
}

// Handles the CR that was just read. Returns false when the value ends.
template <typename Output>
bool CopyAfterCr(CharStream* input, Output& output, int unfold, int softBreaks, int32_t* prev,
                 int32_t* end) {
  const int32_t c = input->GetChar(input);
  if (c < 0) {
    *end = c;
    return false;
  }
  if (c != kLf) {
    output.PutChar(kCr);
    output.PutChar(c);
    *prev = c;
    return true;
  }
  if (unfold == 0) return false;
  return ContinueAfterBreak(input, output, softBreaks, prev, end) == BreakOutcome::kContinues;
}

}  // namespace tokenizer_detail

template <typename Output>
int32_t ReadFoldedValueInto(CharStream* input, Output& output, int unfold, int softBreaks) {
  using tokenizer_detail::kCr;
  const int32_t start = output.Tell();
  int32_t prev = 0;
  int32_t end = 0;
  int32_t c = input->GetChar(input);
  while (c >= 0) {
    if (c != kCr) {
      output.PutChar(c);
      prev = c;
    } else if (!tokenizer_detail::CopyAfterCr(input, output, unfold, softBreaks, &prev, &end)) {
      break;
    }
    c = input->GetChar(input);
  }
  if (c < 0) end = c;
  if (IsHardError(end)) return end;
  return output.Tell() - start;
}

}  // namespace mz
