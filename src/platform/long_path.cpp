// gearloft platform layer, every system: the extended-length ("\\?\") form of a long Windows path.
#include "platform/long_path.h"

#include <vector>

namespace gearloft::platform {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The parts of `rest` with "." dropped and ".." resolved; ".." at the root stays at the root, as the
// system resolves it.
std::vector<std::string> NormalParts(const std::string& rest) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= rest.size()) {
    size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string part = rest.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  return parts;
}

std::string Joined(const std::string& root, const std::vector<std::string>& parts, bool trailing) {
  std::string path = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) path += '\\';
    path += parts[i];
  }
  if (trailing && !parts.empty()) path += '\\';
  return path;
}

}  // namespace

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // each sequence starts one unit...
    if (byte >= 0xF0) ++units;           // ...and one beyond the BMP takes a surrogate pair
  }
  return units;
}

std::string ExtendedLengthPath(const std::string& path, size_t limit) {
  if (Utf16Length(path) < limit) return path;
  const bool already = path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
                       (path[2] == '?' || path[2] == '.') && IsSeparator(path[3]);
  if (already) return path;
  const bool trailing = IsSeparator(path.back());
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    return Joined(std::string("\\\\?\\") + path[0] + ":\\", NormalParts(path.substr(3)), trailing);
  }
  if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
    // \\server\share: both stay as they are; the path below them is normalised.
    size_t server_end = 2;
    while (server_end < path.size() && !IsSeparator(path[server_end])) ++server_end;
    size_t share_end = server_end + 1;
    while (share_end < path.size() && !IsSeparator(path[share_end])) ++share_end;
    if (share_end > path.size()) return path;  // no share: not a path a file lives under
    const std::string server = path.substr(2, server_end - 2);
    const std::string share = path.substr(server_end + 1, share_end - server_end - 1);
    if (server.empty() || share.empty() || server == "." || server == ".." || share == "." || share == "..") {
      return path;
    }
    const std::vector<std::string> parts =
        NormalParts(share_end < path.size() ? path.substr(share_end + 1) : std::string());
    return Joined("\\\\?\\UNC\\" + server + "\\" + share + (parts.empty() ? "" : "\\"), parts, trailing);
  }
  // Relative and drive-relative paths depend on a current folder the prefix would not see.
  return path;
}

}  // namespace gearloft::platform
