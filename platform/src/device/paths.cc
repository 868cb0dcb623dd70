// Phone paths and host paths inside fs/ resolved to the host file they name.
#include "device/paths.h"

#include <algorithm>
#include <string>
#include <vector>

#include "device/device.h"
#include "platform/text_codec.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Splits on either separator, dropping empty and "." names and applying
// "..". False when ".." climbs above the start: such a path is refused, not
// clamped.
bool Normalise(std::string_view path, std::vector<std::string>* parts) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parts->empty()) return false;
      parts->pop_back();
    } else if (!part.empty() && part != ".") {
      parts->emplace_back(part);
    }
    start = end + 1;
  }
  return true;
}

// `name` as spelled in `dir`: itself when present, else the first entry in
// sorted order that differs from it only in ASCII case, else itself (a file
// about to be created).
std::string MatchCase(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
  std::string best;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (EqualsIgnoringAsciiCase(entry, name) && (best.empty() || entry < best)) best = entry;
  }
  return best.empty() ? name : best;
}

// Whether `path` is `root` or below it; both canonical.
bool IsWithin(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

std::optional<fs::path> Resolve(const Device& device, std::string_view path, DWORD* error) {
  auto refuse = [&](DWORD code) -> std::optional<fs::path> {
    if (error != nullptr) *error = code;
    return std::nullopt;
  };
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    return refuse(ERROR_INVALID_PARAMETER);
  }
  const fs::path& root = device.FsRoot();
  const bool host = path.front() == '/';
  std::vector<std::string> parts;
  if (!Normalise(path, &parts)) return refuse(ERROR_ACCESS_DENIED);
  if (host) {
    std::vector<std::string> root_parts;
    Normalise(root.native(), &root_parts);
    if (parts.size() < root_parts.size() ||
        !std::equal(root_parts.begin(), root_parts.end(), parts.begin())) {
      return refuse(ERROR_ACCESS_DENIED);
    }
    parts.erase(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(root_parts.size()));
  }
  for (const auto& part : parts) {
    if (part.find(':') != std::string::npos) return refuse(ERROR_INVALID_PARAMETER);
  }

  fs::path lexical = root;
  for (const auto& part : parts) lexical /= host ? part : MatchCase(lexical, part);

  // Links are followed in the part that exists. The first missing name must
  // not be a dangling link either, or creating the file would follow it out.
  std::error_code ec;
  fs::path existing = lexical;
  std::vector<fs::path> missing;
  while (existing != root && !fs::exists(existing, ec)) {
    missing.push_back(existing.filename());
    existing = existing.parent_path();
  }
  fs::path resolved = fs::canonical(existing, ec);
  if (ec || !IsWithin(resolved, root)) return refuse(ERROR_ACCESS_DENIED);
  if (!missing.empty() && fs::exists(fs::symlink_status(resolved / missing.back(), ec))) {
    return refuse(ERROR_ACCESS_DENIED);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) resolved /= *it;
  return resolved;
}

}  // namespace

std::optional<fs::path> ResolvePath(const Device& device, std::u16string_view path, DWORD* error) {
  std::string utf8 = textcodec::ToUtf8(path);
  if (textcodec::ToUtf16(utf8) != path) {
    if (error != nullptr) *error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  return Resolve(device, utf8, error);
}

std::optional<fs::path> ResolvePath(const Device& device, std::string_view utf8, DWORD* error) {
  if (textcodec::ToUtf8(textcodec::ToUtf16(utf8)) != utf8) {
    if (error != nullptr) *error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  return Resolve(device, utf8, error);
}

}  // namespace platform
