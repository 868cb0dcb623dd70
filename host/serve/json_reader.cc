#include "json_reader.h"

#include <cstdlib>

#include "platform/text_codec.h"
#include "text.h"

namespace mzhost {

const JsonValue* JsonValue::Member(const std::string& name) const {
  if (kind != kObject) return nullptr;
  const auto it = members.find(name);
  return it == members.end() ? nullptr : &it->second;
}

const std::string* JsonValue::String(const std::string& name) const {
  const JsonValue* member = Member(name);
  return member != nullptr && member->kind == kString ? &member->text : nullptr;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Value(JsonValue* out, int depth) {
    if (depth > kMostJsonDepth) return Fail("nested too deeply");
    Space();
    if (at_ >= text_.size()) return Fail("ends early");
    switch (text_[at_]) {
      case '{':
        return Object(out, depth);
      case '[':
        return Array(out, depth);
      case '"':
        out->kind = JsonValue::kString;
        return String(&out->text);
      case 't':
        out->kind = JsonValue::kBool;
        out->boolean = true;
        return Word("true");
      case 'f':
        out->kind = JsonValue::kBool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number(out);
    }
  }

  bool End() {
    Space();
    return at_ == text_.size() || Fail("has text after the value");
  }

  std::string error;

 private:
  bool Fail(const char* why) {
    if (error.empty()) error = std::string("the body is not JSON: it ") + why;
    return false;
  }
  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("has an unknown word");
    at_ += word.size();
    return true;
  }
  bool Object(JsonValue* out, int depth) {
    out->kind = JsonValue::kObject;
    ++at_;
    if (Take('}')) return true;
    do {
      Space();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("has a member without a name");
      if (!String(&name)) return false;
      if (!Take(':')) return Fail("misses a ':'");
      JsonValue value;
      if (!Value(&value, depth + 1)) return false;
      out->members[std::move(name)] = std::move(value);
    } while (Take(','));
    return Take('}') || Fail("misses a '}'");
  }
  bool Array(JsonValue* out, int depth) {
    out->kind = JsonValue::kArray;
    ++at_;
    if (Take(']')) return true;
    do {
      out->items.emplace_back();
      if (!Value(&out->items.back(), depth + 1)) return false;
    } while (Take(','));
    return Take(']') || Fail("misses a ']'");
  }
  bool Number(JsonValue* out) {
    const std::size_t start = at_;
    auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (!digits()) return Fail("has an unknown word");
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits()))
      return Fail("has a bad number");
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return Fail("has a bad number");
    }
    out->kind = JsonValue::kNumber;
    out->number = std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
    return true;
  }
  bool Hex4(unsigned* unit) {
    if (at_ + 4 > text_.size()) return false;
    *unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int v = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (v < 0) return false;
      *unit = *unit * 16 + static_cast<unsigned>(v);
    }
    return true;
  }
  bool String(std::string* out) {
    ++at_;  // the opening quote
    std::u16string escaped;
    auto flush = [&] {
      if (escaped.empty()) return true;
      for (std::u16string_view rest = escaped; !rest.empty();) {
        const textcodec::Decoded d = textcodec::DecodeUtf16(rest);
        if (!d.valid) return false;
        textcodec::AppendUtf8(d.c, out);
        rest.remove_prefix(d.length);
      }
      escaped.clear();
      return true;
    };
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        if (!flush()) return Fail("has a lone surrogate");
        std::u16string unused;
        return Utf8ToUtf16(*out, &unused) || Fail("has a string that is not UTF-8");
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("has a control character in a string");
      if (c != '\\') {
        if (!flush()) return Fail("has a lone surrogate");
        out->push_back(c);
        ++at_;
        continue;
      }
      if (++at_ >= text_.size()) break;
      const char e = text_[at_++];
      unsigned unit = 0;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          unit = static_cast<unsigned char>(e);
          break;
        case 'b':
          unit = '\b';
          break;
        case 'f':
          unit = '\f';
          break;
        case 'n':
          unit = '\n';
          break;
        case 'r':
          unit = '\r';
          break;
        case 't':
          unit = '\t';
          break;
        case 'u':
          if (!Hex4(&unit)) return Fail("has a bad \\u escape");
          break;
        default:
          return Fail("has a bad escape");
      }
      escaped.push_back(static_cast<char16_t>(unit));
    }
    return Fail("has an unterminated string");
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<JsonValue> ReadJson(std::string_view text, std::string* error) {
  Reader reader(text);
  JsonValue value;
  if (reader.Value(&value, 0) && reader.End()) return value;
  if (error != nullptr) *error = reader.error;
  return std::nullopt;
}

}  // namespace mzhost
