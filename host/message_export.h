// How mzhost hands messages on: as a CSV or JSON document, and with their
// times in ISO 8601.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host.h"

namespace mzhost {

enum class ExportFormat { kJson, kCsv };

// A record's local time ("YYYY-MM-DD hh:mm:ss", the year padded with spaces)
// as ISO 8601 with the offset the local zone (TZ, as the library reads it)
// had then: "2012-03-04T10:36:07+05:30". In the hour a zone repeats, the
// text cannot tell which offset was meant and the C library chooses. Any
// other text is returned as it is (an empty one stays empty).
std::string IsoTime(std::string_view local);

// The messages as one document:
//  CSV (RFC 4180): a header row, then one record per message, each ending in
//    CR LF; a field holding a quote, comma, CR or LF is quoted, its quotes
//    doubled; texts are the UTF-8 bytes the library gave.
//  JSON: one array of objects, one per line.
// Both give folder (its name), entry id, time (ISO 8601), address and text.
std::string ExportText(const std::vector<Message>& messages, ExportFormat format);

}  // namespace mzhost
