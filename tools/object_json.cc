#include "object_json.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/text.h"
#include "stream/abs_file_mem.h"
#include "stream/char_stream.h"
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"

namespace mztools {
namespace {

// Bytes in the valid UTF-8 sequence at the start of `text`, or 0 when none
// starts there; the phone's own strict decoder decides.
std::size_t ValidSequence(std::string_view text) {
  for (std::size_t length = 1; length <= 4 && length <= text.size(); ++length) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(length),
                            nullptr, 0) > 0) {
      return length;
    }
  }
  return 0;
}

// A JSON string: valid UTF-8 as it is, every other byte as \u00XX.
void AppendJsonString(std::string* out, const char* text, std::size_t size) {
  const std::string_view view(text, strnlen(text, size));
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (std::size_t pos = 0; pos < view.size();) {
    const std::size_t length = ValidSequence(view.substr(pos));
    const auto b = static_cast<unsigned char>(view[pos]);
    if (length > 1 || (length == 1 && b >= 0x20 && b != '"' && b != '\\')) {
      out->append(view.substr(pos, length));
    } else if (b == '"' || b == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(b));
    } else if (b == '\n' || b == '\r' || b == '\t') {
      out->push_back('\\');
      out->push_back(b == '\n' ? 'n' : b == '\r' ? 'r' : 't');
    } else {
      *out += "\\u00";
      out->push_back(kHex[b >> 4]);
      out->push_back(kHex[b & 15]);
    }
    pos += length > 0 ? length : 1;
  }
  out->push_back('"');
}

template <std::size_t N>
void AppendField(std::string* out, const char* name, const char (&text)[N]) {
  *out += ",\"";
  *out += name;
  *out += "\":";
  AppendJsonString(out, text, N);
}

void AppendNumber(std::string* out, const char* name, long long value) {
  *out += ",\"";
  *out += name;
  *out += "\":";
  *out += std::to_string(value);
}

// The used slots of one class: they are the first ones, so stop at the first
// free one.
template <typename Slot, std::size_t N>
void AppendSlots(std::string* out, int slotClass, const Slot (&slots)[N], bool* first) {
  for (std::size_t i = 0; i < N && slots[i].code[0] != 0; ++i) {
    *out += *first ? "{" : ",{";
    *first = false;
    *out += "\"class\":" + std::to_string(slotClass);
    AppendNumber(out, "index", static_cast<long long>(i));
    AppendField(out, "code", slots[i].code);
    AppendNumber(out, "flags", slots[i].flags);
    AppendField(out, "value", slots[i].value);
    *out += "}";
  }
}

const char* KindName(mz::ObjectType type) {
  switch (type) {
    case mz::kObjectVCard:
      return "vcard";
    case mz::kObjectTodo:
      return "todo";
    case mz::kObjectEvent:
      return "event";
    default:
      return "none";
  }
}

std::string Describe(int32_t offset, mz::ObjectType type, int32_t result,
                     const mz::ContactRecord& contact, const mz::CalendarRecord& calendar) {
  std::string line = "{\"offset\":" + std::to_string(offset);
  AppendNumber(&line, "type", type);
  line += ",\"kind\":\"";
  line += KindName(type);
  line += "\"";
  AppendNumber(&line, "result", result);
  if (type == mz::kObjectVCard) {
    line += ",\"slots\":[";
    bool first = true;
    AppendSlots(&line, mz::kSlotShort, contact.shortSlots, &first);
    AppendSlots(&line, mz::kSlotMedium, contact.mediumSlots, &first);
    AppendSlots(&line, mz::kSlotLong, contact.longSlots, &first);
    line += "]";
  } else if (type == mz::kObjectTodo || type == mz::kObjectEvent) {
    line += ",\"calendar\":{\"type\":" + std::to_string(calendar.type);
    AppendField(&line, "summary", calendar.summary);
    AppendField(&line, "description", calendar.description);
    AppendField(&line, "location", calendar.location);
    AppendField(&line, "start", calendar.start);
    AppendField(&line, "end", calendar.end);
    AppendField(&line, "due", calendar.due);
    AppendField(&line, "alarmTime", calendar.alarmTime);
    AppendField(&line, "alarmText", calendar.alarmText);
    AppendNumber(&line, "priority", calendar.priority);
    AppendNumber(&line, "category", calendar.category);
    AppendNumber(&line, "status", calendar.status);
    line += "}";
  }
  line += "}\n";
  return line;
}

}  // namespace

bool DescribeObjects(std::string& data, const std::function<void(std::string_view)>& write) {
  const auto length = static_cast<int32_t>(data.size());
  mz::CharStream* stream = mz::AbsFileMem_create(data.data(), length, length, 0);
  if (stream == nullptr) return false;
  // The records are large; one pair serves every object.
  const auto contact = std::make_unique<mz::ContactRecord>();
  const auto calendar = std::make_unique<mz::CalendarRecord>();
  std::string out;
  for (;;) {
    const int32_t before = stream->Tell(stream);
    mz::ObjectType type = mz::kObjectNone;
    const int32_t result = mz::ReadObject(stream, &type, contact.get(), 0, calendar.get());
    const int32_t after = stream->Tell(stream);
    if (after <= before) break;
    out += Describe(before, type, result, *contact, *calendar);
    if (out.size() >= 1 << 16) {
      write(out);
      out.clear();
    }
    if (result < 0 && mz::IsHardError(result)) break;
  }
  stream->Close(stream);
  if (!out.empty()) write(out);
  return true;
}

}  // namespace mztools
