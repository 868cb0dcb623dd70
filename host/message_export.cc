#include "message_export.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "text.h"

namespace mzhost {
namespace {

void AppendCsvField(std::string* out, std::string_view field) {
  if (field.find_first_of("\",\r\n") == std::string_view::npos) {
    out->append(field);
    return;
  }
  *out += '"';
  for (char c : field) {
    if (c == '"') *out += '"';
    *out += c;
  }
  *out += '"';
}

}  // namespace

std::string IsoTime(std::string_view local) {
  const std::string text(local);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, end = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%n", &year, &month, &day, &hour, &minute, &second,
                  &end) != 6 ||
      end != static_cast<int>(text.size())) {
    return text;
  }
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  errno = 0;
  if (std::mktime(&fields) == -1 && errno != 0) return text;
  const long offset = fields.tm_gmtoff < 0 ? -fields.tm_gmtoff : fields.tm_gmtoff;
  char iso[80];
  int size = std::snprintf(iso, sizeof iso, "%s%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                           year > 9999 ? "+" : "", year, month, day, hour, minute, second,
                           fields.tm_gmtoff < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
  // Zones of old had offsets in seconds.
  if (offset % 60 != 0 && size > 0) {
    std::snprintf(iso + size, sizeof iso - static_cast<std::size_t>(size), ":%02ld", offset % 60);
  }
  return iso;
}

std::string ExportText(const std::vector<Message>& messages, ExportFormat format) {
  std::string out;
  if (format == ExportFormat::kJson) {
    std::vector<std::string> rows;
    for (const Message& m : messages) {
      rows.push_back(JsonObject({{"folder", JsonText(FolderName(m.folder))},
                                 {"entryId", JsonText(m.entryId)},
                                 {"time", JsonText(IsoTime(m.time))},
                                 {"address", JsonText(m.address)},
                                 {"text", JsonText(m.text)}}));
    }
    return JsonArray(rows, true) + "\n";
  }
  out = "folder,entry_id,time,address,text\r\n";
  for (const Message& m : messages) {
    for (const std::string& field :
         {std::string(FolderName(m.folder)), m.entryId, IsoTime(m.time), m.address}) {
      AppendCsvField(&out, field);
      out += ',';
    }
    AppendCsvField(&out, m.text);
    out += "\r\n";
  }
  return out;
}

}  // namespace mzhost
