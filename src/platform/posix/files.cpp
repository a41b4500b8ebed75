// gearloft platform layer, Linux: executable path, folder creation, moves, opens, flushing to the disk and
// folder listing, giving what the Windows file functions give for the same calls.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/common.h"
#include "platform/platform.h"
#include "platform/posix/filetime.h"

namespace gearloft::platform {

namespace {

using common::EndsWithIgnoringAsciiCase;
using common::Refused;

// Open with deny-write sharing. Linux has no mandatory share modes, so the deny-write open takes an
// advisory flock: a writer holds it exclusively, a reader shares it. Two such opens then exclude each
// other as on Windows (a second game instance cannot write into the first one's log), while opens with
// other share modes are not held back. "w" truncates only once the lock is held, so a refused open
// leaves the other writer's file intact.
std::FILE* OpenDenyWrite(const std::string& path, const char* mode) {
  const bool plus = std::strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC;
  bool truncate = false;
  switch (mode[0]) {
    case 'r':
      flags |= plus ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
      truncate = true;
      break;
    case 'a':
      flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  if (std::strchr(mode, 'x') != nullptr) flags |= O_EXCL;
  const bool writes = plus || mode[0] != 'r';

  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  if (flock(fd, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
    const int saved = errno == EWOULDBLOCK ? EACCES : errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  // fdopen must not see "x" (it does not create) and keeps the lock with the descriptor until fclose.
  char stream_mode[3] = {mode[0], plus ? '+' : '\0', '\0'};
  std::FILE* file = fdopen(fd, stream_mode);
  if (file == nullptr) {
    const int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
}

}  // namespace

std::string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (length < 0) return std::string();
    // readlink gives no hint of the full length: a result that fills the buffer may have been cut.
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool CreateDirectoryOneLevel(const std::string& path) {
  if (Refused("mkdir", path)) return false;
  return mkdir(path.c_str(), 0777) == 0;
}

bool ReplaceMove(const std::string& from, const std::string& to, uint32_t* error) {
  if (Refused("move", from) || Refused("move", to)) {
    if (error != nullptr) *error = EACCES;
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  if (error != nullptr) *error = static_cast<uint32_t>(errno);
  return false;
}

bool DeleteFilePath(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

// Linux cannot hold other openers to a share mode; only kDenyWrite, the log's mode, is imitated (see
// OpenDenyWrite). kExclusive and kDenyNone are plain opens, as _wfopen shares read and write too.
std::FILE* OpenFile(const std::string& path, const char* mode, Share share) {
  if (Refused("open", path)) {
    errno = EACCES;
    return nullptr;
  }
  if (mode == nullptr || mode[0] == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  if (share == Share::kDenyWrite) return OpenDenyWrite(path, mode);
  // "e": close on exec, so a game that starts other programs does not hand them our files.
  std::string plain_mode = mode;
  plain_mode += 'e';
  return std::fopen(path.c_str(), plain_mode.c_str());
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return fsync(fileno(file)) == 0;
}

bool DescribeFile(const std::string& path, FileFacts* facts) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  facts->kind = S_ISREG(info.st_mode)   ? FileKind::kRegular
                : S_ISDIR(info.st_mode) ? FileKind::kDirectory
                                        : FileKind::kOther;
  facts->size = facts->kind == FileKind::kRegular ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

namespace {

// Closes the folder however the listing ends: out of memory inside the game must not leak it.
struct FolderCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<DirEntry> ListFolder(const std::string& folder, const std::string& suffix) {
  std::vector<DirEntry> entries;
  const std::unique_ptr<DIR, FolderCloser> open_dir(opendir(folder.c_str()));
  DIR* dir = open_dir.get();
  if (dir == nullptr) return entries;
  const int dir_fd = dirfd(dir);
  while (const struct dirent* item = readdir(dir)) {
    const std::string name = item->d_name;
    if (!EndsWithIgnoringAsciiCase(name, suffix)) continue;
    struct stat info;
    // A dangling link still has an entry on Windows; describe the link itself then.
    if (fstatat(dir_fd, item->d_name, &info, 0) != 0 &&
        fstatat(dir_fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    DirEntry entry;
    entry.name = name;
    entry.is_directory = S_ISDIR(info.st_mode);
    entry.write_time = FileTimeFromUnix(info.st_mtim);
    // A Windows folder entry has no size.
    entry.size = entry.is_directory ? 0 : static_cast<uint64_t>(info.st_size);
    entries.push_back(entry);
  }
  return entries;
}

const char* PathSeparator() {
  return "/";
}

}  // namespace gearloft::platform
