#include "vobject/tokenizer.h"

namespace mz {

namespace {

using tokenizer_detail::IsBlank;
using tokenizer_detail::kCr;
using tokenizer_detail::kLf;
constexpr int kQuote = 34;
constexpr int kBackslash = 92;

// As strchr would have it, byte 0 belongs to every set. The sets are a few
// bytes long, and a loop here costs less than a call per byte.
bool InSet(const char* set, int byte) {
  if (byte == 0) return true;
  if (set == nullptr) return false;
  for (; *set != 0; ++set) {
    if (static_cast<unsigned char>(*set) == byte) return true;
  }
  return false;
}

// Appends to the token's TextBuffer (null: drops) as TextBuffer_appendChar
// does, but keeps the append position in locals while the bytes fit, so
// that the calls through the stream slots between two bytes do not send it
// back to memory each time. The text starts empty; Finish hands it back to
// the buffer.
class Collector {
 public:
  explicit Collector(TextBuffer* buffer) : buffer_(buffer) {
    Load();
    position_ = 0;
  }

  void Append(int byte) {
    if (position_ + 2 <= capacity_) {
      data_[position_++] = static_cast<char>(byte);
      return;
    }
    if (buffer_ == nullptr) return;
    Finish();
    TextBuffer_appendChar(buffer_, byte);
    Load();
  }

  // The text terminated and its length stored.
  void Finish() {
    if (data_ == nullptr) return;
    data_[position_] = 0;
    buffer_->position = position_;
    buffer_->length = position_;
  }

 private:
  void Load() {
    if (buffer_ == nullptr) return;
    data_ = buffer_->data;
    position_ = buffer_->position;
    capacity_ = buffer_->capacity;
  }

  TextBuffer* buffer_;
  char* data_ = nullptr;
  int32_t position_ = 0;
  int32_t capacity_ = 0;
};

// The end of a token that hit a negative read: a hard error wins, anything
// else delivers the token read so far.
int32_t EndOfToken(int32_t code, int32_t kind) {
  return IsHardError(code) ? code : kind;
}

// After the opening quote. A backslash escapes whatever follows, whatever
// the escapes flag says, because a quoted string has no other way to hold a
// quote.
int32_t ReadQuoted(CharStream* stream, Collector& buffer) {
  for (;;) {
    int32_t c = stream->GetChar(stream);
    if (c == kQuote) return TOKEN_QUOTED;
    if (c == kBackslash) c = stream->GetChar(stream);
    if (c == kStreamEnd) return TOKEN_QUOTED;
    if (c < 0) return c;
    buffer.Append(c);
  }
}

// After a CR: only an immediately following LF joins it.
int32_t ReadLineEnd(CharStream* stream, Collector& buffer) {
  buffer.Append(kCr);
  const int32_t c = stream->GetChar(stream);
  if (c < 0) return EndOfToken(c, TOKEN_CR);
  if (c != kLf) {
    stream->UngetChar(stream);
    return TOKEN_CR;
  }
  buffer.Append(kLf);
  return TOKEN_CRLF;
}

// `first` is the word's first byte, already read.
int32_t ReadWord(CharStream* stream, Collector& buffer, const char* delimiters, int escapes,
                 int32_t first) {
  bool literal = escapes != 0 && first == kBackslash;
  if (!literal) buffer.Append(first);
  for (;;) {
    const int32_t c = stream->GetChar(stream);
    if (c < 0) return EndOfToken(c, TOKEN_WORD);
    if (literal) {
      buffer.Append(c);
      literal = false;
    } else if (escapes != 0 && c == kBackslash) {
      literal = true;
    } else if (InSet(delimiters, c) || c == kCr || c == kQuote) {
      // The byte begins the next token.
      stream->UngetChar(stream);
      return TOKEN_WORD;
    } else {
      buffer.Append(c);
    }
  }
}

// ReadToken after the first byte, `c`, of the token.
int32_t CutToken(CharStream* stream, Collector& buffer, const char* delimiters, int escapes,
                 int32_t c) {
  if (c == kQuote) return ReadQuoted(stream, buffer);
  if (InSet(delimiters, c)) {
    buffer.Append(c);
    return c;
  }
  if (c == kCr) return ReadLineEnd(stream, buffer);
  return ReadWord(stream, buffer, delimiters, escapes, c);
}

}  // namespace

int32_t ReadToken(CharStream* stream, TextBuffer* buffer, const char* delimiters,
                  const char* skipSet, int escapes) {
  if (stream == nullptr) return kStreamInvalidArgument;
  Collector collector(buffer);
  int32_t c = stream->GetChar(stream);
  while (c >= 0 && InSet(skipSet, c)) c = stream->GetChar(stream);
  const int32_t kind = c < 0 ? c : CutToken(stream, collector, delimiters, escapes, c);
  collector.Finish();
  return kind;
}

int32_t ReadTokenSkipBlanks(CharStream* stream, TextBuffer* buffer, const char* delimiters) {
  return ReadToken(stream, buffer, delimiters, " \t", 0);
}

namespace {

// The CharStream output of ReadFoldedValue.
struct StreamOutput {
  CharStream* stream;
  void PutChar(int byte) { stream->PutChar(stream, byte); }
  void StepBack() { stream->Seek(stream, -1, 1); }
  int32_t Tell() { return stream->Tell(stream); }
};

}  // namespace

int32_t ReadFoldedValue(CharStream* input, CharStream* output, int unfold, int softBreaks) {
  if (input == nullptr || output == nullptr) return kStreamInvalidArgument;
  StreamOutput sink{output};
  return ReadFoldedValueInto(input, sink, unfold, softBreaks);
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
