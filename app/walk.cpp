// Folder mode: every file of a folder whose extension names a kind of file this run reads (".jpg"
// and ".cr2"; with --all-formats, every raw kind's too: exif/containers.cpp), paired with its ".jpg"
// under Dst.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/tagloom.h"
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

/// The text of a name from its last '.'; none for a name without one or that starts with it.
std::string extensionOf(const std::string& name) {
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
}

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
            run_.reporter.line("Tagloom: '%s' cannot be read: %s\n", folder.c_str(), platform::errorText(error).c_str());
            return;
        }

        // With --all-formats, of several raw files of one name the first in byte order is the source.
        std::set<std::string> rawNames;
        for (const platform::DirectoryEntry& entry : *entries) {
            const NameKind kind = kindOf(entry.name, run_.Options.allFormats);
            if (entry.isDirectory || !kind.candidate) continue;
            const std::string sourcePath = joinPath(folder, entry.name);
            const std::string name = foldAsciiCase(entry.name.substr(0, entry.name.find_last_of('.')));
            if (run_.Options.allFormats && kind.raw && !rawNames.insert(name).second) {
                run_.filesFound++;
                run_.reporter.line("Tagloom: '%s' skipped - another raw file of that name is the source\n", sourcePath.c_str());
                continue;
            }
            processPair(run_, sourcePath, destinationFor(folder, sourcePath, entry.name));
        }
        if (!run_.Options.recurse) return;
        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory) walk(joinPath(folder, entry.name));
        }
    }

private:
    std::string destinationFor(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        std::string path;
        if (run_.Dst == "..") {
            const std::string trimmed = withoutTrailingSlashes(folder);
            const auto slash = trimmed.find_last_of('/');
            path = slash == std::string::npos ? name : trimmed.substr(0, slash + 1) + name;
        } else {
            path = joinPath(run_.Dst, sourcePath.substr(run_.Src.size()));
        }
        path = path.substr(0, path.find_last_of('.')) + ".jpg";
        if (isFile(path)) return path;

        // Cameras name their files IMG_0001.CR2 and IMG_0001.JPG: take the file that differs only in case.
        const auto slash = path.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        const std::string wanted = slash == std::string::npos ? path : path.substr(slash + 1);
        const FolderIndex& index = indexOf(destinationFolder);
        const auto match = index.find(foldAsciiCase(wanted));
        if (match != index.end()) return destinationFolder + match->second;

        // No such file, but its backup: a rewrite was cut off between its two renames.
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
