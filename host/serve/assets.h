// The page's files (host/web/), compiled into mzhost.
#pragma once

#include <string_view>

namespace mzhost {

struct Asset {
  std::string_view name;   // path under host/web/, e.g. "app.js"
  std::string_view type;   // Content-Type, from the extension
  std::string_view bytes;  // the file as it was at build time
};

// The asset named `name`, or nullptr.
const Asset* FindAsset(std::string_view name);

}  // namespace mzhost
