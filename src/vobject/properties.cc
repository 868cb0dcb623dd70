#include "vobject/properties.h"

#include <cstring>

#include "vobject/tokenizer.h"

namespace mz {

namespace {

static_assert(sizeof(PropertyTable) / sizeof(PropertyTable[0]) == 55);
static_assert(sizeof(ParameterTable) / sizeof(ParameterTable[0]) == 46);

const PropertyRow* FindProperty(const char* name) {
  for (const PropertyRow& row : PropertyTable) {
    if (std::strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

const ParameterRow* FindParameterWord(const char* word) {
  for (const ParameterRow& row : ParameterTable) {
    if (std::strcmp(row.word, word) == 0) return &row;
  }
  return nullptr;
}

// Blank lines before a name are skipped.
int32_t ReadNameToken(CharStream* stream, TextBuffer* scratch) {
  int32_t token;
  do {
    token = ReadToken(stream, scratch, ";:", nullptr, 1);
  } while (token == TOKEN_CRLF);
  return token;
}

// Files `word` (upper-cased in place) into the first free slot; with all
// eight used it is dropped.
void StoreParameter(ParamList* list, char* word) {
  UpperCaseAscii(word);
  for (ParamSlot& slot : list->slots) {
    if (slot.group != 0) continue;
    const ParameterRow* row = FindParameterWord(word);
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

int32_t ReadPropertyName(CharStream* stream, PropertyName* property, TextBuffer* scratch,
                         ValueKind* kind) {
  if (kind != nullptr) *kind = kKindUnknown;
  if (stream == nullptr || property == nullptr || scratch == nullptr) {
    return kStreamInvalidArgument;
  }
  const int32_t token = ReadNameToken(stream, scratch);
  if (token < 0) {
    if (IsHardError(token) || token == kStreamEnd) return token;
    return kNoPropertyName;
  }
  if (token != TOKEN_WORD || scratch->length >= kWordSize) {
    // Drop the rest of the line, continuations included, to stay in step.
    const int32_t skipped = SkipLine(stream, 1);
    return IsHardError(skipped) ? skipped : kNoPropertyName;
  }
  CopyBounded(property->name, scratch->data != nullptr ? scratch->data : "", kWordSize);
  UpperCaseAscii(property->name);
  property->id = kPropertyUnknown;
  const PropertyRow* row = FindProperty(property->name);
  if (row != nullptr) {
    property->id = row->id;
    if (kind != nullptr) *kind = row->kind;
  }
  return 1;
}

int32_t ReadParameters(CharStream* stream, ParamList* list, TextBuffer* scratch) {
  if (stream == nullptr || list == nullptr || scratch == nullptr) return kStreamInvalidArgument;
  char word[kWordSize] = {};
  for (;;) {
    const int32_t token = ReadToken(stream, scratch, ";:=", nullptr, 1);
    if (token < 0) return IsHardError(token) ? token : 0;
    if (token == TOKEN_CRLF) return 0;
    if (token == TOKEN_WORD || token == TOKEN_CR) {
      CopyBounded(word, scratch->data != nullptr ? scratch->data : "", kWordSize);
      continue;
    }
    // ";", ":" or a quoted string, whose text is dropped.
    if (token == '=') continue;
    if (word[0] != '\0') StoreParameter(list, word);
    word[0] = '\0';
    if (token == ':') return 1;
  }
}

const ParamSlot* FindParam(const ParamList* list, int32_t group, const ParamSlot* fallback) {
  if (list == nullptr) return fallback;
  for (const ParamSlot& slot : list->slots) {
    if (slot.group == group) return &slot;
  }
  return fallback;
}

bool HasParam(const ParamList* list, int32_t group, int32_t value) {
  if (list == nullptr) return false;
  for (const ParamSlot& slot : list->slots) {
    if (slot.group == group && slot.value == value) return true;
  }
  return false;
}

}  // namespace mz
