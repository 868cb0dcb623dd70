// vcardinfo FILE | -
//
// Reads the objects of a vCard/vCalendar file one after another with the
// library's object reader and prints one JSON object per line for each:
//
//   {"offset":0,"type":1,"kind":"vcard","result":0,"slots":[
//     {"class":1,"index":0,"code":"N","flags":0,"value":"Doe;John"}, ...]}
//   {"offset":120,"type":3,"kind":"event","result":0,"calendar":{...}}
//
// "offset" is where the object's text begins, "type" the object type (0 none,
// 1 vCard, 2 to-do, 3 event) and "result" what the reader returned. A vCard
// lists every used slot of the contact record (class 1 short, 2 medium,
// 3 long; index within the class); a to-do or event lists every field of the
// calendar record. Text is printed as it is where it is valid UTF-8; every
// byte that is not part of a valid UTF-8 sequence is printed as \u00XX of
// that byte (so \u00e9 in the output may be the byte E9, while a valid é
// appears as itself), and control characters are escaped as JSON requires.
//
// The file, or standard input for "-", is read into memory and read from
// there through a memory stream. The tool stops at the end of the
// data, on a hard stream error, or when the reader makes no progress.
// Errors are one line on standard error; exit status 2 for bad usage, 1 for
// a file that cannot be read, 0 otherwise.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "stream/abs_file_mem.h"
#include "stream/char_stream.h"
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"

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

// Reads objects until the data end, a hard error, or no progress.
int ReadAll(mz::CharStream* stream) {
  // The records are large; one pair serves every object.
  static mz::ContactRecord contact;
  static mz::CalendarRecord calendar;
  std::string out;
  for (;;) {
    const int32_t before = stream->Tell(stream);
    mz::ObjectType type = mz::kObjectNone;
    const int32_t result = mz::ReadObject(stream, &type, &contact, 0, &calendar);
    const int32_t after = stream->Tell(stream);
    if (after <= before) break;
    out += Describe(before, type, result, contact, calendar);
    if (out.size() >= 1 << 16) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    if (result < 0 && mz::IsHardError(result)) break;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "vcardinfo: cannot write the output\n");
    return 1;
  }
  return 0;
}

// Reads all of `file` into *data; false when a read fails.
bool Slurp(std::FILE* file, std::string* data) {
  char block[1 << 16];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) data->append(block, n);
  return std::ferror(file) == 0;
}

// Reads the objects of `data` (named `name` in messages) through a memory
// stream.
int ReadData(std::string& data, const std::string& name) {
  // Stream positions are 32-bit.
  if (data.size() > INT32_MAX) {
    std::fprintf(stderr, "vcardinfo: %s is too large\n", name.c_str());
    return 1;
  }
  const auto length = static_cast<int32_t>(data.size());
  mz::CharStream* stream = mz::AbsFileMem_create(data.data(), length, length, 0);
  if (stream == nullptr) {
    std::fprintf(stderr, "vcardinfo: out of memory\n");
    return 1;
  }
  const int status = ReadAll(stream);
  stream->Close(stream);
  return status;
}

int ReadStandardInput() {
  std::string data;
  if (!Slurp(stdin, &data)) {
    std::fprintf(stderr, "vcardinfo: cannot read standard input\n");
    return 1;
  }
  return ReadData(data, "standard input");
}

int ReadFile(const char* path) {
  // fopen accepts a directory, whose reads then fail like an empty file.
  struct stat info;
  if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "vcardinfo: cannot read %s: %s\n", path, std::strerror(EISDIR));
    return 1;
  }
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "vcardinfo: cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::string data;
  const bool read = Slurp(file, &data);
  const int error = errno;
  std::fclose(file);
  if (!read) {
    std::fprintf(stderr, "vcardinfo: cannot read %s: %s\n", path, std::strerror(error));
    return 1;
  }
  return ReadData(data, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: vcardinfo FILE (or - for standard input)\n");
    return 2;
  }
  return std::strcmp(argv[1], "-") == 0 ? ReadStandardInput() : ReadFile(argv[1]);
}
