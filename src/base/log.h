// The diagnostic log: lines "hh:mm:ss<TAB>message" appended to
// \Temp\CeLog.txt. Its switch is off and no export turns it on, so in this
// library it writes nothing; it stays so that the calls that would log keep
// their place.
#pragma once

namespace mz {

// Returns the characters formatted (time prefix plus message), or 0 when the
// switch is off. A line longer than 1023 bytes is cut; a log file that cannot
// be opened drops the line.
int DiagnosticLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace mz
