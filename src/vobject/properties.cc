#include "vobject/properties.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "vobject/tokenizer.h"

namespace mz {

namespace {

static_assert(sizeof(PropertyTable) / sizeof(PropertyTable[0]) == 55);
static_assert(sizeof(ParameterTable) / sizeof(ParameterTable[0]) == 46);

// Every line looks up its name and each parameter word, so the tables are
// reached through hash indexes built at compile time: a bucket holds a row
// number plus one (0: empty), and a word's rows follow its bucket in table
// order, so the first equal row still wins.
constexpr std::size_t kBuckets = 128;
using WordIndex = std::array<uint8_t, kBuckets>;

constexpr std::size_t TextLength(const char* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// `length` is at least 1.
constexpr std::size_t BucketOf(const char* word, std::size_t length) {
  const auto byte = [word](std::size_t i) {
    return static_cast<std::size_t>(static_cast<unsigned char>(word[i]));
  };
  return (length * 31 + byte(0) * 7 + byte(length / 2) + byte(length - 1) * 3) % kBuckets;
}

template <typename Row, std::size_t N>
constexpr WordIndex IndexOf(const Row (&rows)[N], const char* Row::*word) {
  static_assert(N < kBuckets && N < 255);
  WordIndex index{};
  for (std::size_t i = 0; i < N; ++i) {
    const char* text = rows[i].*word;
    std::size_t bucket = BucketOf(text, TextLength(text));
    while (index[bucket] != 0) bucket = (bucket + 1) % kBuckets;
    index[bucket] = static_cast<uint8_t>(i + 1);
  }
  return index;
}

constexpr WordIndex kPropertyIndex = IndexOf(PropertyTable, &PropertyRow::name);
constexpr WordIndex kParameterIndex = IndexOf(ParameterTable, &ParameterRow::word);

// Whether the terminated `word` is the `length` bytes of `text`, none of
// them 0.
bool SameWord(const char* word, const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (word[i] != text[i]) return false;
  }
  return word[length] == 0;
}

template <typename Row, std::size_t N>
const Row* LookUp(const Row (&rows)[N], const WordIndex& index, const char* Row::*word,
                  const char* text, std::size_t length) {
  if (length == 0) return nullptr;  // no row is empty
  for (std::size_t bucket = BucketOf(text, length); index[bucket] != 0;
       bucket = (bucket + 1) % kBuckets) {
    const Row& row = rows[index[bucket] - 1];
    if (SameWord(row.*word, text, length)) return &row;
  }
  return nullptr;
}

const PropertyRow* FindProperty(const char* name, std::size_t length) {
  return LookUp(PropertyTable, kPropertyIndex, &PropertyRow::name, name, length);
}

const ParameterRow* FindParameterWord(const char* word, std::size_t length) {
  return LookUp(ParameterTable, kParameterIndex, &ParameterRow::word, word, length);
}

// Blank lines before a name are skipped.
int32_t ReadNameToken(CharStream* stream, TextBuffer* scratch) {
  int32_t token;
  do {
    token = ReadToken(stream, scratch, ";:", nullptr, 1);
  } while (token == TOKEN_CRLF);
  return token;
}

// Files `word` of `length` bytes (upper-cased in place) into the first free
// slot; with all eight used it is dropped.
void StoreParameter(ParamList* list, char* word, std::size_t length) {
  UpperCaseAscii(word);
  for (ParamSlot& slot : list->slots) {
    if (slot.group != 0) continue;
    const ParameterRow* row = FindParameterWord(word, length);
    if (row != nullptr) {
      slot.group = row->group;
      slot.value = row->value;
    } else {
      slot.group = kParamUnknown;
      slot.value = -1;
      CopyBounded(slot.name, word, kWordSize);
    }
    return;
  }
}

}  // namespace

const PropertyRow* FindProperty(const char* name) {
  return name != nullptr ? FindProperty(name, std::strlen(name)) : nullptr;
}

const ParameterRow* FindParameterWord(const char* word) {
  return word != nullptr ? FindParameterWord(word, std::strlen(word)) : nullptr;
}

int32_t ReadPropertyName(CharStream* stream, PropertyName* property, TextBuffer* scratch,
                         ValueKind* kind) {
  if (kind != nullptr) *kind = kKindUnknown;
  if (stream == nullptr || property == nullptr || scratch == nullptr) {
    return kStreamInvalidArgument;
  }
  const int32_t token = ReadNameToken(stream, scratch);
  if (token < 0) {
    if (IsHardError(token) || token == kStreamEnd) return token;
    return kMalformedText;
  }
  if (token != TOKEN_WORD || scratch->length >= kWordSize) {
    // Drop the rest of the line, continuations included, to stay in step.
    const int32_t skipped = SkipLine(stream, 1);
    return IsHardError(skipped) ? skipped : kMalformedText;
  }
  const int32_t length =
      CopyBounded(property->name, scratch->data != nullptr ? scratch->data : "", kWordSize);
  UpperCaseAscii(property->name);
  property->id = kPropertyUnknown;
  const PropertyRow* row = FindProperty(property->name, static_cast<std::size_t>(length));
  if (row != nullptr) {
    property->id = row->id;
    if (kind != nullptr) *kind = row->kind;
  }
  return 1;
}

int32_t ReadParameters(CharStream* stream, ParamList* list, TextBuffer* scratch) {
  if (stream == nullptr || list == nullptr || scratch == nullptr) return kStreamInvalidArgument;
  char word[kWordSize] = {};
  int32_t length = 0;
  for (;;) {
    const int32_t token = ReadToken(stream, scratch, ";:=", nullptr, 1);
    if (token < 0) return IsHardError(token) ? token : 0;
    if (token == TOKEN_CRLF) return 0;
    if (token == TOKEN_WORD || token == TOKEN_CR) {
      length = CopyBounded(word, scratch->data != nullptr ? scratch->data : "", kWordSize);
      continue;
    }
    // ";", ":" or a quoted string, whose text is dropped.
    if (token == '=') continue;
    if (word[0] != '\0') StoreParameter(list, word, static_cast<std::size_t>(length));
    word[0] = '\0';
    if (token == ':') return 1;
  }
}

// Both stop at the first free slot: the used ones come first.
const ParamSlot* FindParam(const ParamList* list, int32_t group, const ParamSlot* fallback) {
  if (list == nullptr) return fallback;
  for (const ParamSlot& slot : list->slots) {
    if (slot.group == group) return &slot;
    if (slot.group == 0) break;
  }
  return fallback;
}

bool HasParam(const ParamList* list, int32_t group, int32_t value) {
  if (list == nullptr) return false;
  for (const ParamSlot& slot : list->slots) {
    if (slot.group == group && slot.value == value) return true;
    if (slot.group == 0) break;
  }
  return false;
}

}  // namespace mz
