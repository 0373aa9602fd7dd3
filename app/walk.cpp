// Folder mode: every ".jpg" and ".cr2" file of a folder, paired with its ".jpg" under Dst.
#include <set>
#include <utility>
#include <vector>

#include "app/tagloom.h"
#include "exif/run_state.h"
#include "exif/text.h"
#include "platform/platform.h"

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

/// True for a name whose text from its last '.' is ".jpg" or ".cr2" in any case; not ".jpg" alone.
bool isCandidate(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return false;
    const std::string extension = name.substr(dot);
    return equalIgnoringAsciiCase(extension, ".jpg") || equalIgnoringAsciiCase(extension, ".cr2");
}

class FolderWalk {
public:
    void walk(const std::string& folder) {
        const platform::FileStatus status = platform::statusOf(folder);
        if (!status.exists || !entered_.insert({status.device, status.inode}).second) return;  // a link loop
        const auto entries = platform::listDirectory(folder);
        if (!entries) return;

        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory || !isCandidate(entry.name)) continue;
            const std::string sourcePath = joinPath(folder, entry.name);
            processPair(sourcePath, destinationFor(folder, sourcePath, entry.name));
        }
        if (!Options.recurse) return;
        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory) walk(joinPath(folder, entry.name));
        }
    }

private:
    std::string destinationFor(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        std::string path;
        if (Dst == "..") {
            const std::string trimmed = withoutTrailingSlashes(folder);
            const auto slash = trimmed.find_last_of('/');
            path = slash == std::string::npos ? name : trimmed.substr(0, slash + 1) + name;
        } else {
            path = joinPath(Dst, sourcePath.substr(Src.size()));
        }
        path = path.substr(0, path.find_last_of('.')) + ".jpg";
        if (isFile(path)) return path;

        // Cameras name their files IMG_0001.CR2 and IMG_0001.JPG: take the file that differs only in case.
        const auto slash = path.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        const std::string wanted = slash == std::string::npos ? path : path.substr(slash + 1);
        if (listedFolder_ != destinationFolder) {
            listedFolder_ = destinationFolder;
            listed_ = platform::listDirectory(destinationFolder).value_or(std::vector<platform::DirectoryEntry>{});
        }
        for (const platform::DirectoryEntry& entry : listed_) {
            if (!entry.isDirectory && equalIgnoringAsciiCase(entry.name, wanted))
                return slash == std::string::npos ? entry.name : destinationFolder + entry.name;
        }
        return path;
    }

    std::set<std::pair<std::uint64_t, std::uint64_t>> entered_;
    std::string listedFolder_;
    std::vector<platform::DirectoryEntry> listed_;
};

}  // namespace

void walkFolder(std::string folder) { FolderWalk().walk(folder); }
