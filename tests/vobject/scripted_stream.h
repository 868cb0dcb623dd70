// A test-only CharStream over a string, shared by the vobject tests.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "stream/char_stream.h"

namespace {

constexpr size_t kNever = static_cast<size_t>(-1);

// Input that fails with `failCode` while at `failAt`, and an output
// (PutChar, Write, Printf) that refuses bytes past `outLimit`: PutChar and
// Printf with kStreamNoRoom, Write with a short count. It counts the writes
// tried after the first refusal.
struct ScriptStream {
  mz::CharStream base{};
  std::string in;
  size_t pos = 0, failAt;
  int32_t failCode;
  std::string out;
  size_t outLimit = kNever;
  bool refused = false;
  int triesAfterRefusal = 0;

  static ScriptStream* Of(mz::CharStream* s) { return static_cast<ScriptStream*>(s->self); }

  explicit ScriptStream(std::string input, size_t failPosition = kNever, int32_t code = 0)
      : in(std::move(input)), failAt(failPosition), failCode(code) {
    base.self = this;
    base.GetChar = [](mz::CharStream* s) -> int32_t {
      ScriptStream* t = Of(s);
      if (t->pos == t->failAt) return t->failCode;
      if (t->pos >= t->in.size()) return mz::kStreamEnd;
      return static_cast<unsigned char>(t->in[t->pos++]);
    };
    base.UngetChar = [](mz::CharStream* s) -> int32_t {
      return Of(s)->pos == 0 ? mz::kStreamCannotStepBack : (--Of(s)->pos, 0);
    };
    base.PutChar = [](mz::CharStream* s, int byte) -> int32_t {
      const char c = static_cast<char>(byte);
      return Of(s)->Put(&c, 1, false) == 1 ? byte : mz::kStreamNoRoom;
    };
    base.Write = [](mz::CharStream* s, const void* bytes, int32_t count) -> int32_t {
      return static_cast<int32_t>(Of(s)->Put(static_cast<const char*>(bytes), count, true));
    };
    base.Printf = &Printf;
  }
  // Appends what fits of the `n` bytes, nothing unless all fit or
  // `partial`; the count put.
  size_t Put(const char* bytes, size_t n, bool partial) {
    triesAfterRefusal += refused ? 1 : 0;
    const size_t room = outLimit - std::min(outLimit, out.size());
    refused = refused || n > room;
    if (n > room && !partial) return 0;
    out.append(bytes, std::min(n, room));
    return std::min(n, room);
  }
  static int32_t Printf(mz::CharStream* s, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof text)) return mz::kStreamIoError;
    return Of(s)->Put(text, n, false) == static_cast<size_t>(n) ? n : mz::kStreamNoRoom;
  }
  mz::CharStream* stream() { return &base; }
  std::string Rest() const { return in.substr(pos); }
};

}  // namespace
