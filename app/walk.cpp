// Folder mode: every file of a folder whose extension names a kind of file this run reads (".jpg"
// and ".cr2"; with --all-formats, every raw kind's, HEIF's, ".jpeg" and ".jpe" too:
// exif/containers.cpp), paired with its ".jpg" under Dst (with --all-formats, ".jpeg" or ".jpe" where
// that is what exists).
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "app/pair.h"
#include "app/walk.h"
#include "exif/containers.h"
#include "exif/text.h"
#include "platform/platform.h"

namespace tagloom {

namespace {

/// "a/b" from "a" and "b", with exactly one '/' between them.
std::string joinPath(const std::string& folder, std::string name) {
    while (!name.empty() && name.front() == '/') name.erase(0, 1);
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

/// A name without its extension, case-folded: files of one name belong together.
std::string baseName(const std::string& name) { return foldAsciiCase(name.substr(0, name.find_last_of('.'))); }

/// What the kinds of file that this run reads make of a name; a name without text before its
/// extension (".jpg" alone) is none.
NameKind kindOf(const std::string& name, bool allFormats) { return kindOfName(extensionOf(name), allFormats); }

class FolderWalk {
public:
    explicit FolderWalk(RunContext& run) : run_(run) {}

    void walk(const std::string& folder) {
        const platform::FileStatus status = platform::statusOf(folder);
        if (!status.exists || !entered_.insert({status.device, status.inode}).second) return;  // a link loop
        int error = 0;
        const auto entries = platform::listDirectory(folder, &error);
        if (!entries) {
            reportFile(run_, folder, true, "refused", "cannot be read: " + platform::errorText(error));
            return;
        }

        // With --all-formats, of the files of one name the raw file is the source (the first in byte
        // order of several), then a HEIF photo, then a JPEG; each other is named. A JPEG that is the
        // source's destination (Src and Dst one folder) is no source.
        std::unordered_map<std::string, std::pair<const platform::DirectoryEntry*, NameKind>> chosen;
        if (run_.config.Options.allFormats) {
            for (const platform::DirectoryEntry& entry : *entries) {
                const NameKind kind = kindOf(entry.name, true);
                if (entry.isDirectory || !kind.candidate) continue;
                auto& best = chosen[baseName(entry.name)];
                if (best.first == nullptr || kind.rank < best.second.rank) best = {&entry, kind};
            }
        }
        for (const platform::DirectoryEntry& entry : *entries) {
            const NameKind kind = kindOf(entry.name, run_.config.Options.allFormats);
            const NameKind other = kindOf(entry.name, true);
            if (!entry.isDirectory && !kind.candidate && other.candidate && !other.jpeg && !run_.config.Options.allFormats)
                noteOtherReading(run_, joinPath(folder, entry.name), CExifImage::Role::source);  // a raw or HEIF file
            if (entry.isDirectory || !kind.candidate) continue;
            const std::string sourcePath = joinPath(folder, entry.name);
            if (run_.config.Options.allFormats) {
                const auto& [source, sourceKind] = chosen[baseName(entry.name)];
                if (source != &entry) {
                    const std::string sourceOf = joinPath(folder, source->name);
                    if (kind.jpeg && existingDestination(folder, sourceOf, source->name) == sourcePath) {
                        processPair(run_, sourcePath, sourcePath);  // counted, as any file that is its own pair
                        continue;
                    }
                    run_.tally.filesFound++;
                    reportFile(run_, sourcePath, true, "skipped",
                               kind.raw && sourceKind.raw ? "another raw file of that name is the source"
                                                          : "another file of that name is the source");
                    continue;
                }
            }
            processPair(run_, sourcePath, destinationFor(folder, sourcePath, entry.name));
            // With --all-formats every export of that name is a destination too.
            if (run_.config.Options.allFormats) {
                for (const std::string& exported : exportsOf(folder, sourcePath, entry.name)) processPair(run_, sourcePath, exported);
            }
        }
        if (!run_.config.Options.recurse) return;
        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory) walk(joinPath(folder, entry.name));
        }
    }

private:
    /// The name a source's destination has: the source's base name under Dst (or "..").
    std::string destinationBase(const std::string& folder, const std::string& sourcePath, const std::string& name) const {
        std::string path;
        if (run_.config.Dst == "..") {
            const std::string trimmed = withoutTrailingSlashes(folder);
            const auto slash = trimmed.find_last_of('/');
            path = slash == std::string::npos ? name : trimmed.substr(0, slash + 1) + name;
        } else {
            path = joinPath(run_.config.Dst, sourcePath.substr(run_.config.Src.size()));
        }
        return path.substr(0, path.find_last_of('.'));
    }

    /// The JPEG extensions a destination may have, in the order they are tried.
    std::vector<std::string> jpegExtensions() const {
        if (!run_.config.Options.allFormats) return {".jpg"};
        return {".jpg", ".jpeg", ".jpe"};
    }

    /// The source's destination where one exists: its base name with a JPEG extension, then a name
    /// that differs from that only in letter case (cameras name their files IMG_0001.CR2 and
    /// IMG_0001.JPG); else "".
    std::string existingDestination(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        const std::string base = destinationBase(folder, sourcePath, name);
        for (const std::string& extension : jpegExtensions()) {
            if (isFile(base + extension)) return base + extension;
        }
        const auto slash = base.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "" : base.substr(0, slash + 1);
        const FolderIndex& index = indexOf(destinationFolder);
        for (const std::string& extension : jpegExtensions()) {
            const auto match = index.find(foldAsciiCase(base.substr(destinationFolder.size()) + extension));
            if (match != index.end()) return destinationFolder + match->second;
        }
        return "";
    }

    /// The source's exports (PNG, WebP, TIFF, JPEG XL) under its base name, each extension in any letter case.
    std::vector<std::string> exportsOf(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        const std::string base = destinationBase(folder, sourcePath, name);
        const auto slash = base.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "" : base.substr(0, slash + 1);
        const FolderIndex& index = indexOf(destinationFolder);
        std::vector<std::string> found;
        for (const std::string& extension : exportExtensions()) {
            if (isFile(base + extension)) {
                found.push_back(base + extension);
                continue;
            }
            const auto match = index.find(foldAsciiCase(base.substr(destinationFolder.size()) + extension));
            if (match != index.end()) found.push_back(destinationFolder + match->second);
        }
        return found;
    }

    std::string destinationFor(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        const std::string found = existingDestination(folder, sourcePath, name);
        if (!found.empty()) return found;
        const std::string path = destinationBase(folder, sourcePath, name) + ".jpg";

        // No such file, but its backup: a rewrite was cut off between its two renames.
        const auto slash = path.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        const std::string wanted = slash == std::string::npos ? path : path.substr(slash + 1);
        const FolderIndex& index = indexOf(destinationFolder);
        const auto backup = index.find(foldAsciiCase(wanted + ".old"));
        if (backup != index.end() && endsWith(backup->second, ".old")) {
            const std::string restored = destinationFolder + backup->second.substr(0, backup->second.size() - 4);
            if (restoreInterrupted(run_, restored) != Interrupted::none) return restored;
        }
        return path;
    }

    /// File names of a folder by their case-folded name; the first in byte order where several fold alike.
    using FolderIndex = std::unordered_map<std::string, std::string>;

    /// The index of a Dst folder, made once per folder while the walk stays in it.
    const FolderIndex& indexOf(const std::string& folder) {
        if (indexedFolder_ == folder && indexed_) return index_;
        indexedFolder_ = folder;
        indexed_ = true;
        index_.clear();
        const auto entries = platform::listDirectory(folder.empty() ? "." : folder);
        if (entries) {
            for (const platform::DirectoryEntry& entry : *entries) {
                if (!entry.isDirectory) index_.emplace(foldAsciiCase(entry.name), entry.name);
            }
        }
        return index_;
    }

    RunContext& run_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> entered_;
    std::string indexedFolder_;
    bool indexed_ = false;
    FolderIndex index_;
};

}  // namespace

void walkFolder(RunContext& run, std::string folder) { FolderWalk(run).walk(folder); }

}  // namespace tagloom
