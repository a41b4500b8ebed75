// gearloft platform layer, Windows: executable path, file operations, flushing and folder listing.
// Everything above this file speaks UTF-8.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <wchar.h>

#include <cstring>
#include <memory>

#include "platform/common.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace gearloft::platform {
namespace {

using common::EndsWithIgnoringAsciiCase;
using common::Refused;
using win32::FromWide;
using win32::ToWide;
using win32::ToWidePath;

// _wfsopen has no share flag for renaming or deleting: the file is opened by hand and handed to the
// runtime as a stream with the same mode.
std::FILE* OpenSharingAll(const std::wstring& path, const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  DWORD access = update ? GENERIC_READ | GENERIC_WRITE : 0;
  DWORD disposition = 0;
  int flags = update ? _O_RDWR : 0;
  switch (mode[0]) {
    case 'r':
      access |= GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= update ? 0 : _O_RDONLY;
      break;
    case 'w':
      access |= GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      flags |= update ? 0 : _O_WRONLY;
      break;
    case 'a':
      access |= GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= (update ? 0 : _O_WRONLY) | _O_APPEND;
      break;
    default:
      return nullptr;
  }
  flags |= std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
  HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (descriptor == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _wfdopen(descriptor, ToWide(mode).c_str());
  if (file == nullptr) _close(descriptor);
  return file;
}

}  // namespace

std::string ExecutablePath() {
  // MAX_PATH is only where the buffer starts: a game installed deep enough must still find its folder.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], capacity);
    if (length == 0) return std::string();
    if (length < capacity) return FromWide(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

bool CreateDirectoryOneLevel(const std::string& path) {
  if (Refused("mkdir", path)) return false;
  return CreateDirectoryW(ToWidePath(path, kMaxFolderPathUnits).c_str(), nullptr) != 0;
}

bool ReplaceMove(const std::string& from, const std::string& to, uint32_t* error) {
  if (Refused("move", from) || Refused("move", to)) {
    if (error != nullptr) *error = ERROR_ACCESS_DENIED;
    return false;
  }
  if (MoveFileExW(ToWidePath(from).c_str(), ToWidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  const DWORD code = GetLastError();
  if (error != nullptr) *error = code;
  return false;
}

bool DeleteFilePath(const std::string& path) {
  return DeleteFileW(ToWidePath(path).c_str()) != 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode, Share share) {
  if (Refused("open", path) || mode == nullptr) return nullptr;
  const std::wstring wide_path = ToWidePath(path);
  const std::wstring wide_mode = ToWide(mode);
  switch (share) {
    case Share::kExclusive:
      return _wfopen(wide_path.c_str(), wide_mode.c_str());
    case Share::kDenyWrite:
      return _wfsopen(wide_path.c_str(), wide_mode.c_str(), _SH_DENYWR);
    case Share::kDenyNone:
      return _wfsopen(wide_path.c_str(), wide_mode.c_str(), _SH_DENYNO);
    case Share::kShareAll:
      return OpenSharingAll(wide_path, mode);
    case Share::kDenyAll:
      return _wfsopen(wide_path.c_str(), wide_mode.c_str(), _SH_DENYRW);
  }
  return nullptr;
}

bool FlushToDisk(std::FILE* file) {
  if (fflush(file) != 0) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  if (handle == -1) return false;
  return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0;
}

bool DescribeFile(const std::string& path, FileFacts* facts) {
  // No access asked for: metadata can be had even while another program holds the file exclusively,
  // and nothing is read, so a pipe or a device does not wait. Without FILE_FLAG_OPEN_REPARSE_POINT a
  // link is followed, and a dangling one fails here.
  HANDLE handle = CreateFileW(ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (!known) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    facts->kind = FileKind::kDirectory;
  } else if (type == FILE_TYPE_DISK && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0) {
    facts->kind = FileKind::kRegular;
  } else {
    facts->kind = FileKind::kOther;
  }
  facts->size = facts->kind == FileKind::kRegular
                    ? (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow
                    : 0;
  return true;
}

namespace {

// Closes the search however the listing ends: out of memory inside the game must not leak it.
struct SearchCloser {
  void operator()(void* search) const { FindClose(search); }
};

}  // namespace

std::vector<DirEntry> ListFolder(const std::string& folder, const std::string& suffix) {
  std::vector<DirEntry> entries;
  const std::wstring pattern = ToWidePath(folder + "\\*" + suffix);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  const std::unique_ptr<void, SearchCloser> open_search(search);
  do {
    DirEntry entry;
    entry.name = FromWide(found.cFileName, wcslen(found.cFileName));
    // The system also matches the pattern against 8.3 short names, so "a.inix" turns up for "*.ini".
    if (!EndsWithIgnoringAsciiCase(entry.name, suffix)) continue;
    entry.is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.write_time = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                       found.ftLastWriteTime.dwLowDateTime;
    entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entries.push_back(entry);
  } while (FindNextFileW(search, &found) != 0);
  return entries;
}

const char* PathSeparator() {
  return "\\";
}

}  // namespace gearloft::platform
