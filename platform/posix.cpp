// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tagloom::platform {
namespace {

constexpr const char* kAccessList = "system.posix_acl_access";

[[noreturn]] void fail(const char* call, const std::string& path, int error) {
    throw IoError(std::string(call) + "(" + path + "): " + errorText(error));
}

FileStatus fromStat(const struct stat& info) {
    FileStatus status;
    status.exists = true;
    status.isDirectory = S_ISDIR(info.st_mode);
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    status.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    status.permissions = static_cast<std::uint32_t>(info.st_mode & 07777);
    status.owner = static_cast<std::uint32_t>(info.st_uid);
    status.group = static_cast<std::uint32_t>(info.st_gid);
    return status;
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string errorText(int error) { return std::strerror(error); }

FileSystem& systemFileSystem() {
    static FileSystem systemOwn;  // holds no state: every call goes to the system
    return systemOwn;
}

bool isLinkUnsupported(int error) {
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV;
}

bool isNameTaken(int error) { return error == EEXIST || error == ENOTEMPTY; }

FileStatus statusOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return fromStat(info);
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool isSymbolicLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File File::openForReading(const std::string& path) {
    // Non-blocking, so that a FIFO or a device never hangs the run; only regular files are kept.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    return File(fd, path);
}

File File::createNew(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return {};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_nlink != 1) {  // someone linked it in the meantime
        if (error != nullptr) *error = EEXIST;
        ::close(fd);
        ::unlink(path.c_str());
        return {};
    }
    return File(fd, path);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, bytes + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("read", path_, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void File::writeAt(std::uint64_t offset, const void* buffer, std::size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(fd_, bytes + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            fail("write", path_, errno);
        }
        if (put == 0) fail("write", path_, EIO);
        done += static_cast<std::size_t>(put);
    }
}

void File::copyFrom(const File& from, std::uint64_t fromOffset, std::uint64_t toOffset, std::uint64_t n,
                    std::uint8_t* buffer, std::size_t bufferSize) {
    // First let the kernel move the data: no copy through user space. In pieces, each handed to the
    // disk as soon as it is copied, so that writing overlaps copying and the final fsync waits less.
    constexpr std::uint64_t kPiece = 2u << 20;
    while (n > 0) {
        auto in = static_cast<off_t>(fromOffset);
        auto out = static_cast<off_t>(toOffset);
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, kPiece));
        const ssize_t moved = ::copy_file_range(from.fd_, &in, fd_, &out, chunk, 0);
        if (moved < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOTSUP) break;
            fail("copy_file_range", path_, errno);
        }
        if (moved == 0) fail("read", from.path_, ENODATA);
        ::sync_file_range(fd_, static_cast<off_t>(toOffset), moved, SYNC_FILE_RANGE_WRITE);  // a hint: errors show at fsync
        fromOffset += static_cast<std::uint64_t>(moved);
        toOffset += static_cast<std::uint64_t>(moved);
        n -= static_cast<std::uint64_t>(moved);
    }
    // Where the kernel cannot, through the caller's buffer.
    copyThroughBuffer(from, fromOffset, toOffset, n, buffer, bufferSize);
}

void File::copyThroughBuffer(const File& from, std::uint64_t fromOffset, std::uint64_t toOffset, std::uint64_t n,
                             std::uint8_t* buffer, std::size_t bufferSize) {
    while (n > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, bufferSize));
        if (from.readAt(fromOffset, buffer, piece) != piece) fail("read", from.path_, ENODATA);
        writeAt(toOffset, buffer, piece);
        fromOffset += piece;
        toOffset += piece;
        n -= piece;
    }
}

std::uint64_t File::length() const { return status().size; }

FileStatus File::status() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) fail("fstat", path_, errno);
    return fromStat(info);
}

bool File::tryLock() {
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return false;
        if (errno != EINTR) fail("flock", path_, errno);
    }
    return true;
}

void File::copyAccessFrom(const File& from) {
    std::vector<char> names(1024);
    ssize_t length;
    while ((length = ::flistxattr(from.fd_, names.data(), names.size())) < 0) {
        if (errno == ENOTSUP) return;  // nothing of the kind on that file system
        if (errno != ERANGE) fail("listxattr", from.path_, errno);
        names.resize(names.size() * 4);
    }
    bool hasAccessList = false;
    std::vector<char> value;
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names.data() + at)) + 1) {
        const std::string name = names.data() + at;
        const bool required = name == kAccessList || name.rfind("user.", 0) == 0;
        if (!required && name.rfind("security.", 0) != 0 && name.rfind("trusted.", 0) != 0) continue;
        hasAccessList = hasAccessList || name == kAccessList;
        ssize_t size = ::fgetxattr(from.fd_, name.c_str(), nullptr, 0);
        if (size >= 0) {
            value.resize(static_cast<std::size_t>(size) + 1);
            size = ::fgetxattr(from.fd_, name.c_str(), value.data(), value.size());
        }
        if (size < 0) {
            if (required) fail("getxattr", from.path_ + ": " + name, errno);
            continue;
        }
        if (::fsetxattr(fd_, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0 && required)
            fail("setxattr", path_ + ": " + name, errno);
    }
    // A folder's default list hands new files an access list of their own: the old file had none.
    if (!hasAccessList && ::fremovexattr(fd_, kAccessList) != 0 && errno != ENODATA && errno != ENOTSUP)
        fail("removexattr", path_ + ": " + kAccessList, errno);
}

void File::setModifiedTime(std::int64_t seconds, std::int64_t nanoseconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)},
                               {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
    if (::futimens(fd_, times) != 0) fail("futimens", path_, errno);
}

void File::setPermissions(std::uint32_t permissions) {
    if (::fchmod(fd_, static_cast<mode_t>(permissions)) != 0) fail("fchmod", path_, errno);
}

void File::setOwnerIfAllowed(std::uint32_t owner, std::uint32_t group) {
    if (::fchown(fd_, static_cast<uid_t>(owner), static_cast<gid_t>(group)) == 0) return;
    if (errno != EPERM) fail("fchown", path_, errno);
    // Another user's photo: its owner stays the writer's, but a member of the photo's group may keep that.
    if (::fchown(fd_, static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0 && errno != EPERM)
        fail("fchown", path_, errno);
}

void File::sync() {
    if (::fsync(fd_) != 0) fail("fsync", path_, errno);
}

void FileSystem::sync(File& file) { file.sync(); }

void File::close() {
    if (fd_ < 0) return;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) fail("close", path_, errno);
}

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, int* error) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        if (error != nullptr) *error = errno;
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        bool isDirectory = false;
        if (item->d_type == DT_DIR) {
            isDirectory = true;
        } else if (item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) {
            isDirectory = statusOf(path + "/" + name).isDirectory;
        }
        entries.push_back({name, isDirectory});
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return entries;
}

bool FileSystem::linkNoReplace(const std::string& from, const std::string& to, int& error) {
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
}

bool FileSystem::renameNoReplace(const std::string& from, const std::string& to, int& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP && error != EOPNOTSUPP) return false;
    // The file system cannot refuse for us: look first. Only this process is replacing files here.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        error = EEXIST;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
}

void FileSystem::renameReplace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) fail("rename", from + " -> " + to, errno);
}

bool FileSystem::removeFile(const std::string& path, int& error) {
    if (::unlink(path.c_str()) == 0) return true;
    error = errno;
    return false;
}

void FileSystem::syncParentDirectory(const std::string& path) {
    const std::string folder = parentOf(path);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("open", folder, errno);
    const int synced = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (synced != 0 && error != EINVAL) fail("fsync", folder, error);
}

}  // namespace tagloom::platform
