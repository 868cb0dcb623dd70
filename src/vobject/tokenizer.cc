#include "vobject/tokenizer.h"

#include <cstring>

namespace mz {

namespace {

constexpr int kCr = 13;
constexpr int kLf = 10;
constexpr int kQuote = 34;
constexpr int kBackslash = 92;

// strchr also finds the terminator, which makes byte 0 a member of every set.
bool InSet(const char* set, int byte) {
  return std::strchr(set != nullptr ? set : "", byte) != nullptr;
}

bool IsBlank(int byte) {
  return byte == ' ' || byte == '\t';
}

void Append(TextBuffer* buffer, int byte) {
  if (buffer != nullptr) TextBuffer_appendChar(buffer, byte);
}

// The end of a token that hit a negative read: a hard error wins, anything
// else delivers the token read so far.
int32_t EndOfToken(int32_t code, int32_t kind) {
  return IsHardError(code) ? code : kind;
}

// After the opening quote. A backslash escapes whatever follows, whatever
// the escapes flag says, because a quoted string has no other way to hold a
// quote.
int32_t ReadQuoted(CharStream* stream, TextBuffer* buffer) {
  for (;;) {
    int32_t c = stream->GetChar(stream);
    if (c == kQuote) return TOKEN_QUOTED;
    if (c == kBackslash) c = stream->GetChar(stream);
    if (c == kStreamEnd) return TOKEN_QUOTED;
    if (c < 0) return c;
    Append(buffer, c);
  }
}

// After a CR: only an immediately following LF joins it.
int32_t ReadLineEnd(CharStream* stream, TextBuffer* buffer) {
  Append(buffer, kCr);
  const int32_t c = stream->GetChar(stream);
  if (c < 0) return EndOfToken(c, TOKEN_CR);
  if (c != kLf) {
    stream->UngetChar(stream);
    return TOKEN_CR;
  }
  Append(buffer, kLf);
  return TOKEN_CRLF;
}

// `first` is the word's first byte, already read.
int32_t ReadWord(CharStream* stream, TextBuffer* buffer, const char* delimiters, int escapes,
                 int32_t first) {
  bool literal = escapes != 0 && first == kBackslash;
  if (!literal) Append(buffer, first);
  for (;;) {
    const int32_t c = stream->GetChar(stream);
    if (c < 0) return EndOfToken(c, TOKEN_WORD);
    if (literal) {
      Append(buffer, c);
      literal = false;
    } else if (escapes != 0 && c == kBackslash) {
      literal = true;
    } else if (InSet(delimiters, c) || c == kCr || c == kQuote) {
      // The byte begins the next token.
      stream->UngetChar(stream);
      return TOKEN_WORD;
    } else {
      Append(buffer, c);
    }
  }
}

}  // namespace

int32_t ReadToken(CharStream* stream, TextBuffer* buffer, const char* delimiters,
                  const char* skipSet, int escapes) {
  if (stream == nullptr) return kStreamInvalidArgument;
  if (buffer != nullptr) TextBuffer_clear(buffer);
  int32_t c = stream->GetChar(stream);
  while (c >= 0 && InSet(skipSet, c)) c = stream->GetChar(stream);
  if (c < 0) return c;
  if (c == kQuote) return ReadQuoted(stream, buffer);
  if (InSet(delimiters, c)) {
    Append(buffer, c);
    return c;
  }
  if (c == kCr) return ReadLineEnd(stream, buffer);
  return ReadWord(stream, buffer, delimiters, escapes, c);
}

int32_t ReadTokenSkipBlanks(CharStream* stream, TextBuffer* buffer, const char* delimiters) {
  return ReadToken(stream, buffer, delimiters, " \t", 0);
}

namespace {

// What follows a CR LF inside a value.
enum class BreakOutcome { kEnds, kContinues };

// Called with the line break consumed; `prev` is the byte before it and is
// updated when the value goes on. `end` receives a negative read.
BreakOutcome ContinueAfterBreak(CharStream* input, CharStream* output, int softBreaks,
                                int32_t* prev, int32_t* end) {
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
    output->Seek(output, -1, 1);
    output->PutChar(output, c);
    *prev = c;
    return BreakOutcome::kContinues;
  }
  input->UngetChar(input);
  return BreakOutcome::kEnds;
}

// Handles the CR that was just read. Returns false when the value ends.
bool CopyAfterCr(CharStream* input, CharStream* output, int unfold, int softBreaks, int32_t* prev,
                 int32_t* end) {
  const int32_t c = input->GetChar(input);
  if (c < 0) {
    *end = c;
    return false;
  }
  if (c != kLf) {
    output->PutChar(output, kCr);
    output->PutChar(output, c);
    *prev = c;
    return true;
  }
  if (unfold == 0) return false;
  return ContinueAfterBreak(input, output, softBreaks, prev, end) == BreakOutcome::kContinues;
}

}  // namespace

int32_t ReadFoldedValue(CharStream* input, CharStream* output, int unfold, int softBreaks) {
  if (input == nullptr || output == nullptr) return kStreamInvalidArgument;
  const int32_t start = output->Tell(output);
  int32_t prev = 0;
  int32_t end = 0;
  int32_t c = input->GetChar(input);
  while (c >= 0) {
    if (c != kCr) {
      output->PutChar(output, c);
      prev = c;
    } else if (!CopyAfterCr(input, output, unfold, softBreaks, &prev, &end)) {
      break;
    }
    c = input->GetChar(input);
  }
  if (c < 0) end = c;
  if (IsHardError(end)) return end;
  return output->Tell(output) - start;
}

int32_t SkipLine(CharStream* stream, int unfold) {
  if (stream == nullptr) return kStreamInvalidArgument;
  int32_t c = stream->GetChar(stream);
  while (c >= 0) {
    if (c == kCr) {
      c = stream->GetChar(stream);
      if (c < 0) break;
      if (c == kLf) {
        if (unfold == 0) return 0;
        c = stream->GetChar(stream);
        if (c < 0) break;
        if (!IsBlank(c)) {
          stream->UngetChar(stream);
          return 0;
        }
      }
      // Otherwise the byte after the CR is dropped unexamined.
    }
    c = stream->GetChar(stream);
  }
  return IsHardError(c) ? c : 0;
}

}  // namespace mz
