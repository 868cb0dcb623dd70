# Writes OUTPUT, a C++ source holding every file under WEB_DIR as an Asset
# (host/serve/assets.h), so mzhost serves its page without files beside it.
# Run at build time: cmake -DWEB_DIR=... -DOUTPUT=... -P embed-assets.cmake
file(GLOB_RECURSE files RELATIVE "${WEB_DIR}" "${WEB_DIR}/*")
list(SORT files)
set(types
  html "text/html\; charset=utf-8" js "text/javascript" css "text/css"
  svg "image/svg+xml" json "application/json")
set(arrays "")
set(entries "")
set(n 0)
foreach(name IN LISTS files)
  string(REGEX MATCH "[^.]*$" ext "${name}")
  list(FIND types "${ext}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "host/web/${name}: no content type for .${ext}")
  endif()
  math(EXPR at "${at} + 1")
  list(GET types ${at} type)
  file(READ "${WEB_DIR}/${name}" hex HEX)
  # Every byte escaped: a literal holds any byte, and an empty file is "".
  string(REGEX REPLACE "(..)" "\\\\x\\1" hex "${hex}")
  string(APPEND arrays "const char k${n}[] = \"${hex}\";\n")
  string(APPEND entries "    {\"${name}\", \"${type}\", {k${n}, sizeof k${n} - 1}},\n")
  math(EXPR n "${n} + 1")
endforeach()
set(text "// Generated from host/web/ by cmake/embed-assets.cmake; do not edit.
#include \"assets.h\"

namespace mzhost {
namespace {
${arrays}
const Asset kAssets[] = {
${entries}    {{}, {}, {}},  // keeps the array legal when host/web/ is empty
};
}  // namespace

const Asset* FindAsset(std::string_view name) {
  for (const Asset& asset : kAssets) {
    if (!asset.name.empty() && asset.name == name) return &asset;
  }
  return nullptr;
}

}  // namespace mzhost
")
# Rewritten only when it changes, so an untouched page recompiles nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
