// Request bodies of the JSON API: a small reader for RFC 8259 text with
// bounded depth and size, and strings checked to be UTF-8.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mzhost {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's UTF-8, escapes resolved
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;  // a repeated name keeps its last value

  // The member `name` of an object, if it is a string.
  const std::string* String(const std::string& name) const;
  const JsonValue* Member(const std::string& name) const;
};

inline constexpr int kMostJsonDepth = 32;

// The value `text` holds, or none with the reason in *error: not JSON, too
// deep, text after the value, a string that is not UTF-8 (also through \u
// escapes: a lone surrogate).
std::optional<JsonValue> ReadJson(std::string_view text, std::string* error);

}  // namespace mzhost
