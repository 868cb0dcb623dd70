// mzhost serve: the phone's contacts over CardDAV until SIGINT or SIGTERM.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace mzhost {

// Serves the device folder `deviceDir` with the loaded library in `host`;
// opens and closes the library session itself, on the server's worker.
void RunServe(Host& host, const std::vector<std::string>& args, const std::string& deviceDir);

}  // namespace mzhost
