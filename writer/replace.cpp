#include "writer/replace.h"

#include <utility>

#include "exif/exception.h"

namespace tagloom {

namespace {

/// Refuses the replacement when another program has rewritten the file since it was read.
void ensureUnchanged(const Replacement& file) {
    if (!platform::statusOf(file.path).sameContentAs(file.loaded)) throw CExifException(Fault::changedMeanwhile);
}

/// The temporary file of one replacement: removed when the replacement ends, unless kept (a refusal
/// that leaves what it wrote) or renamed into place.
class TemporaryFile {
public:
    TemporaryFile(std::string path, platform::FileSystem& files) : path_(std::move(path)), files_(files) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        int ignored = 0;
        if (armed_) files_.removeFile(path_, ignored);
    }
    const std::string& path() const { return path_; }
    void keep() { armed_ = false; }

private:
    std::string path_;
    platform::FileSystem& files_;
    bool armed_ = true;
};

/// Makes this run the only one that replaces the file until its swap is done, and makes sure that the
/// name still leads to the file that was read, unchanged. Under the lock, what an interrupted run
/// left goes: its ".tmp", and a ".old" that is a second name of the file.
void claim(const Replacement& file) {
    if (!file.original.tryLock()) {
        CExifException busy(Fault::busy);
        busy.fileName = file.path;
        throw busy;
    }
    ensureUnchanged(file);
    int ignored = 0;
    file.files.removeFile(file.path + ".tmp", ignored);
    const platform::FileStatus backup = platform::statusOf(file.path + ".old");
    if (backup.exists && backup.device == file.loaded.device && backup.inode == file.loaded.inode)
        file.files.removeFile(file.path + ".old", ignored);
}

/// Creates the temporary file of a claimed file, always anew.
platform::File createTemporary(const Replacement& file, TemporaryFile& temporary) {
    int error = 0;
    platform::File created = platform::File::createNew(temporary.path(), &error);
    file.files.step();
    if (!created.isOpen()) {
        temporary.keep();  // whatever holds that name is not ours
        throw CExifException(Fault::failedToOpenTmpNamed, {temporary.path(), platform::errorText(error)});
    }
    return created;
}

/// Writes the runs of `content` whose bytes are in memory, or those from the old file.
void writeRuns(platform::File& to, const Replacement& file, const std::vector<platform::Piece>& content, bool fromFile) {
    std::uint64_t at = 0;
    for (const platform::Piece& piece : content) {
        if (piece.from != nullptr && fromFile) {
            to.copyFrom(*piece.from, piece.offset, at, piece.length, file.buffer.bytes, file.buffer.size);
        } else if (piece.from == nullptr && !fromFile) {
            to.writeAt(at, piece.bytes.data(), piece.bytes.size());
        }
        at += piece.size();
    }
}

/// Keeps the old file as "<path>.old" and puts the new file under its name. The backup exists before
/// the swap and never replaces anything.
void swapKeepingBackup(const std::string& path, const std::string& temporary, platform::FileSystem& files) {
    const std::string backup = path + ".old";
    int error = 0;
    if (files.linkNoReplace(path, backup, error)) {
        files.step();
        try {
            files.renameReplace(temporary, path);
        } catch (const platform::IoError& failure) {
            files.removeFile(backup, error);  // our second name of the untouched file
            throw CExifException(Fault::systemFailure, {failure.what()});
        }
        return;
    }
    if (platform::isNameTaken(error)) throw CExifException(Fault::backupInTheWay, {backup});
    if (!platform::isLinkUnsupported(error))
        throw CExifException(Fault::systemFailure, {"link(" + backup + "): " + platform::errorText(error)});

    // No hard links here (FAT, exFAT): the file becomes the backup, then the new file takes its name.
    // A cut in between leaves the photo as the backup, which the next run puts back.
    if (!files.renameNoReplace(path, backup, error)) {
        if (platform::isNameTaken(error)) throw CExifException(Fault::backupInTheWay, {backup});
        throw CExifException(Fault::systemFailure, {"rename(" + path + "): " + platform::errorText(error)});
    }
    files.step();
    if (!files.renameNoReplace(temporary, path, error)) {
        const std::string reason = platform::errorText(error);
        if (!files.renameNoReplace(backup, path, error)) throw CExifException(Fault::originalKeptAs, {backup, reason});
        throw CExifException(Fault::systemFailure, {"rename(" + temporary + "): " + reason});
    }
}

/// Puts the new file under the name. At every instant that name holds the complete old file or the
/// complete new one (or, without hard links under -s, the old one is the backup); nothing this run
/// did not create is replaced or deleted.
ReplaceOutcome swapIn(const Replacement& file, TemporaryFile& temporary) {
    if (file.keepBackup) {
        swapKeepingBackup(file.path, temporary.path(), file.files);
    } else {
        file.files.renameReplace(temporary.path(), file.path);
    }
    temporary.keep();  // it is the file now
    file.files.step();
    ReplaceOutcome outcome;
    outcome.updated = true;
    // The new file's data is on disk already; the flush of the folder makes the swap durable.
    try {
        file.files.syncParentDirectory(file.path);
    } catch (const platform::IoError& failure) {
        outcome.warning = std::string("updated, but the folder could not be flushed to disk (") + failure.what() + ")";
    }
    file.files.step();
    return outcome;
}

}  // namespace

ReplaceOutcome replaceFile(const Replacement& file, const std::vector<platform::Piece>& content) {
    try {
        claim(file);  // before its temporary file exists: another run's of that name is not this one's to remove
        TemporaryFile temporary(file.path + ".tmp", file.files);
        platform::File created = createTemporary(file, temporary);
        writeRuns(created, file, content, false);
        file.files.step();
        ensureUnchanged(file);
        writeRuns(created, file, content, true);
        file.files.step();

        // Durable before it takes the file's name; owned and readable like the old one.
        created.setOwnerIfAllowed(file.loaded.owner, file.loaded.group);
        created.setPermissions(file.loaded.permissions);
        created.copyAccessFrom(file.original);
        if (file.keepTime) created.setModifiedTime(file.loaded.modifiedSeconds, file.loaded.modifiedNanoseconds);
        file.files.sync(created);
        file.files.step();
        created.close();
        ensureUnchanged(file);
        return swapIn(file, temporary);
    } catch (const platform::IoError& failure) {
        throw CExifException(Fault::systemFailure, {failure.what()});
    }
}

void leaveTemporary(const Replacement& file, const std::vector<platform::Piece>& content) {
    try {
        claim(file);
        TemporaryFile temporary(file.path + ".tmp", file.files);
        platform::File created = createTemporary(file, temporary);
        writeRuns(created, file, content, false);
        writeRuns(created, file, content, true);
        temporary.keep();
    } catch (const platform::IoError& failure) {
        throw CExifException(Fault::systemFailure, {failure.what()});
    }
}

}  // namespace tagloom
