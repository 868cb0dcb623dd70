// A test-only CharStream over a string, shared by the vobject tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "stream/char_stream.h"

namespace {

constexpr size_t kNever = static_cast<size_t>(-1);

// Input that fails with `failCode` while at `failAt`, and an output (PutChar,
// Seek from the current position, Tell) that refuses bytes past `outLimit`.
struct ScriptStream {
  mz::CharStream base{};
  std::string in;
  size_t pos = 0, failAt;
  int32_t failCode;
  std::string out;
  int32_t outPos = 0;
  size_t outLimit = kNever;

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
      ScriptStream* t = Of(s);
      const auto at = static_cast<size_t>(t->outPos);
      if (at >= t->outLimit) return mz::kStreamNoRoom;
      t->out.resize(std::max(t->out.size(), at + 1));
      t->out[at] = static_cast<char>(byte);
      ++t->outPos;
      return byte;
    };
    base.Seek = [](mz::CharStream* s, int32_t offset, int32_t origin) -> int32_t {
      if (origin != 1) return mz::kStreamInvalidArgument;
      Of(s)->outPos += offset;
      return 0;
    };
    base.Tell = [](mz::CharStream* s) -> int32_t { return Of(s)->outPos; };
  }
  mz::CharStream* stream() { return &base; }
  std::string Rest() const { return in.substr(pos); }
  std::string Written() const { return out.substr(0, static_cast<size_t>(outPos)); }
};

}  // namespace
