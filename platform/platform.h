// The operating-system layer: every file, folder and link operation that Tagloom uses.
// Only this library talks to the system; a port to another system replaces posix.cpp alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tagloom::platform {

/// A failed system call: names the call, the path and the system's reason,
/// e.g. "write(photo.jpg.tmp): No space left on device".
class IoError : public std::runtime_error {
public:
    explicit IoError(const std::string& what) : std::runtime_error(what) {}
};

/// What a path names right now. `exists` is false when the path names nothing (or cannot be looked up).
struct FileStatus {
    bool exists = false;
    bool isDirectory = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint32_t permissions = 0;  // the mode's permission bits (07777)
    std::uint32_t owner = 0;
    std::uint32_t group = 0;

    /// Same file, same length, same modification time: nothing has rewritten it in between.
    bool sameContentAs(const FileStatus& other) const {
        return exists && other.exists && device == other.device && inode == other.inode && size == other.size &&
               modifiedSeconds == other.modifiedSeconds && modifiedNanoseconds == other.modifiedNanoseconds;
    }
};

/// Follows symbolic links, as opening the path would.
FileStatus statusOf(const std::string& path);
/// True when the path itself is a symbolic link.
bool isSymbolicLink(const std::string& path);
/// True when the stream is a terminal (a person watches it).
bool isTerminal(std::FILE* stream);

/// A move-only open file. The destructor closes a file that is still open; paths that write
/// call close() themselves so that a failing close is seen.
class File {
public:
    File() noexcept = default;
    File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    /// Opens an existing regular file for reading. Returns a closed File when it cannot be opened.
    static File openForReading(const std::string& path);
    /// Creates a new file for reading and writing, readable by its owner alone. Fails when anything
    /// holds that name already (a symbolic link included), and when the new file has a second name
    /// by the time it is open. Returns a closed File on failure, with the reason in `error`.
    static File createNew(const std::string& path, int* error = nullptr);

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    /// Reads up to n bytes at an absolute offset; returns how many arrived (fewer only at the end of the file).
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    /// Writes all n bytes at an absolute offset, or throws.
    void writeAt(std::uint64_t offset, const void* buffer, std::size_t n);
    /// Copies n bytes from `from` at fromOffset to this file at toOffset, letting the kernel move the data
    /// where it can, else through `buffer`. Throws on any failure or when `from` ends early.
    void copyFrom(const File& from, std::uint64_t fromOffset, std::uint64_t toOffset, std::uint64_t n,
                  std::uint8_t* buffer, std::size_t bufferSize);
    /// The same through `buffer` alone, in pieces of bufferSize and a last piece of the rest.
    void copyThroughBuffer(const File& from, std::uint64_t fromOffset, std::uint64_t toOffset, std::uint64_t n,
                           std::uint8_t* buffer, std::size_t bufferSize);
    std::uint64_t length() const;
    FileStatus status() const;
    /// Takes an advisory exclusive lock on the file without waiting. False when another process holds
    /// one; the lock lasts until the file is closed.
    bool tryLock();
    void setPermissions(std::uint32_t permissions);
    /// Gives this file exactly the access control list of `from` (none where `from` has none) and
    /// its user extended attributes; security and trusted attributes where the system allows.
    /// Throws when the access list or a user attribute cannot be set.
    void copyAccessFrom(const File& from);
    /// Sets the modification time (and the access time to the same).
    void setModifiedTime(std::int64_t seconds, std::int64_t nanoseconds);

    /// Gives the file this owner and group where the system allows it; quietly keeps them otherwise
    /// (only the superuser may give a file away).
    void setOwnerIfAllowed(std::uint32_t owner, std::uint32_t group);
    void sync();
    /// Closes and reports a failing close; the File is closed afterwards either way.
    void close();

private:
    friend class FileSystem;
    File(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_;
};

/// A run of the bytes of a file to be written: bytes in memory, or a range of another open file.
struct Piece {
    std::vector<std::uint8_t> bytes;  // where `from` is none
    const File* from = nullptr;
    std::uint64_t offset = 0;  // of the range in `from`
    std::uint64_t length = 0;  // of the range in `from`

    static Piece ofBytes(std::vector<std::uint8_t> bytes) { return Piece{std::move(bytes), nullptr, 0, 0}; }
    static Piece ofFile(const File& file, std::uint64_t offset, std::uint64_t length) {
        return Piece{{}, &file, offset, length};
    }
    std::uint64_t size() const { return from != nullptr ? length : bytes.size(); }
};

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;
};

/// The entries of a folder except "." and "..", sorted by name in byte order.
/// Nothing when the folder cannot be listed; then `error`, when given, says why.
std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& path, int* error = nullptr);

/// The operations whose failures and interruptions a rewrite must survive. A run is handed the
/// system's own; a test may hand it another, one that fails a call or stops at a step.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    /// Makes `to` a second name of `from`. Returns false with errno-style `error` set when it fails;
    /// never replaces an existing `to`.
    virtual bool linkNoReplace(const std::string& from, const std::string& to, int& error);
    /// Renames without ever replacing an existing `to`. Returns false with `error` set when it fails.
    virtual bool renameNoReplace(const std::string& from, const std::string& to, int& error);
    /// Renames, replacing `to` atomically. Throws on failure.
    virtual void renameReplace(const std::string& from, const std::string& to);
    /// Removes a file name. Returns false with `error` set when it fails.
    virtual bool removeFile(const std::string& path, int& error);
    /// Hands the file's data to the disk and waits until it is there. Throws on failure.
    virtual void sync(File& file);
    /// Makes the folder holding `path` durable (its entries survive a power cut). Throws on failure.
    virtual void syncParentDirectory(const std::string& path);
    /// A step of a rewrite after which a power cut leaves a state of its own on disk.
    virtual void step() {}
};

/// The system's own file system. A run is handed it, or another that a test puts in its place.
FileSystem& systemFileSystem();

/// True when `error` says the file system cannot make hard links (FAT and exFAT, for instance).
bool isLinkUnsupported(int error);
/// True when `error` says the target name is taken.
bool isNameTaken(int error);
/// The system's text for an error number.
std::string errorText(int error);

}  // namespace tagloom::platform
