// Folder mode: every file of a folder whose extension names a kind of file this run reads (".jpg"
// and ".cr2"; with --all-formats, every raw kind's, HEIF's, ".jpeg" and ".jpe" too:
// exif/containers.cpp), paired with its ".jpg" under Dst (with --all-formats, ".jpeg" or ".jpe" where
// that is what exists). With --all-formats a file under Dst that no source found this way is then
// paired by its name: exports that editors renamed (IMG_0001-Edit.jpg) find their raw file (IMG_0001.CR2).
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "app/pair.h"
#include "app/progress.h"
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

/// What the walk found to do, in order: a pair, or a line about a file.
struct Step {
    bool isPair;
    std::function<void()> run;
};

/// The walk finds every pair first and then processes them, so that the progress line knows how many
/// there are.
class FolderWalk {
public:
    explicit FolderWalk(RunContext& run) : run_(run) {}

    /// Processes what the walk found, in order, with the progress line on a terminal.
    void run() {
        std::size_t pairs = 0, done = 0;
        for (const Step& step : steps_) pairs += step.isPair ? 1 : 0;
        ProgressLine progress(stderr, platform::isTerminal(stderr) && !run_.config.Options.json);
        const bool sharesScreen = platform::isTerminal(stdout);
        for (const Step& step : steps_) {
            if (sharesScreen) progress.clear();  // a line of the pair takes its place
            step.run();
            if (step.isPair) ++done;
            progress.update(done, pairs, run_.tally.filesUpdated, run_.tally.refusals);
        }
        progress.clear();
    }

    void walk(const std::string& folder) {
        const platform::FileStatus status = platform::statusOf(folder);
        if (!status.exists || !entered_.insert({status.device, status.inode}).second) return;  // a link loop
        int error = 0;
        const auto entries = platform::listDirectory(folder, &error);
        if (!entries) {
            const std::string text = "cannot be read: " + platform::errorText(error);
            later([this, folder, text] { reportFile(run_, folder, true, "refused", text); });
            return;
        }

        // With --all-formats, of the files of one name the raw file is the source (the first in byte
        // order of several), then a HEIF photo, then a JPEG; each other is named. A JPEG (or HEIF photo)
        // that is the source's destination (Src and Dst one folder) is no source.
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
                    const std::vector<std::string> exported = exportsOf(folder, sourceOf, source->name);
                    if ((kind.jpeg && existingDestination(folder, sourceOf, source->name) == sourcePath) ||
                        std::find(exported.begin(), exported.end(), sourcePath) != exported.end()) {
                        pair(sourcePath, sourcePath);  // counted, as any file that is its own pair
                        continue;
                    }
                    const char* text = kind.raw && sourceKind.raw ? "another raw file of that name is the source"
                                                                  : "another file of that name is the source";
                    later([this, sourcePath, text] {
                        run_.tally.filesFound++;
                        reportFile(run_, sourcePath, true, "skipped", text);
                    });
                    continue;
                }
            }
            const Destination destination = destinationFor(folder, sourcePath, entry.name);
            if (pairsByName() && destination.path == sourcePath) {
                ownPairs_.insert(sourcePath);  // an export of another source's name, or else its own pair
                continue;
            }
            pair(sourcePath, destination.path, destination.backedUp);
            // With --all-formats every export of that name is a destination too.
            if (run_.config.Options.allFormats) {
                for (const std::string& exported : exportsOf(folder, sourcePath, entry.name)) {
                    if (exported != sourcePath) pair(sourcePath, exported);  // a HEIF photo is no export of itself
                }
            }
        }
        if (!run_.config.Options.recurse) return;
        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory) walk(joinPath(folder, entry.name));
        }
    }

    /// Whether files that found no source are paired by name after the walk: with --all-formats, but
    /// for Dst "..", which is each folder's own parent.
    bool pairsByName() const { return run_.config.Options.allFormats && run_.config.Dst != ".."; }

    /// With --all-formats, after the walk: each file under Dst that a JPEG or export kind makes a
    /// destination and that found no source at its own place is paired by name (`matchByName`) with
    /// a source anywhere under Src (at any depth with -r). Each folder is listed once.
    void pairByName() {
        entered_.clear();
        indexSources(run_.config.Src);
        std::vector<std::string> destinations;
        entered_.clear();
        listDestinations(run_.config.Dst, destinations);
        for (const std::string& path : destinations) {
            const Match match = matchByName(path);
            if (match.clash) {
                const std::string text = "two sources of that name: '" + match.sources[0] + "', '" + match.sources[1] + "'";
                later([this, path, text] {
                    run_.tally.filesFound++;
                    reportFile(run_, path, false, "skipped", text);
                });
            } else if (!match.sources.empty()) {
                pair(match.sources[0], path);
            } else if (ownPairs_.count(path) != 0) {
                pair(path, path);  // counted, as any file that is its own pair
            } else {
                unmatched_++;
            }
        }
    }

    /// Hints on standard error at the end of a folder run with --all-formats, where something found no pair.
    void hint() const {
        if (unmatched_ > 0)
            std::fprintf(stderr,
                         "tagloom: %d file%s under '%s' found no source; exports are matched to sources as "
                         "IMG_0001-Edit.jpg to IMG_0001.CR2\n",
                         unmatched_, unmatched_ == 1 ? "" : "s", run_.config.Dst.c_str());
        if (!run_.config.Options.recurse && unmatched_ > 0 && sourcesAtTop_ == 0 && sourcesBelow_ > 0)
            std::fprintf(stderr, "tagloom: '%s' holds its photos only in sub-folders: -r would take them\n",
                         run_.config.Src.c_str());
    }

private:
    struct Match {
        std::vector<std::string> sources;  // the one source; both where two clash
        bool clash = false;
    };

    /// A pair, processed when the walk is done. Where the destination exists only as the backup that
    /// an interrupted rewrite left (`backedUp`), the photo is put back first and then paired.
    void pair(const std::string& sourcePath, const std::string& destinationPath, const std::string& backedUp = "") {
        if (isFile(destinationPath)) paired_.insert(destinationPath);
        steps_.push_back({true, [this, sourcePath, destinationPath, backedUp] {
                              const bool restored = !backedUp.empty() && restoreInterrupted(run_, backedUp) != Interrupted::none;
                              processPair(run_, sourcePath, restored ? backedUp : destinationPath);
                          }});
    }

    /// A line said when the walk is done, in its place among the pairs.
    void later(std::function<void()> step) { steps_.push_back({false, std::move(step)}); }

    /// Every source under Src by its case-folded base name: of the files of one name in one folder the
    /// one of the lowest rank (a raw file, then HEIF, then JPEG). Without -r only Src's own files, and
    /// a count of those in its sub-folders.
    void indexSources(const std::string& folder) {
        const platform::FileStatus status = platform::statusOf(folder);
        if (!status.exists || !entered_.insert({status.device, status.inode}).second) return;
        const auto entries = platform::listDirectory(folder);
        if (!entries) return;
        std::unordered_map<std::string, std::pair<const platform::DirectoryEntry*, NameKind>> chosen;
        for (const platform::DirectoryEntry& entry : *entries) {
            const NameKind kind = kindOf(entry.name, true);
            if (entry.isDirectory || !kind.candidate) continue;
            auto& best = chosen[baseName(entry.name)];
            if (best.first == nullptr || kind.rank < best.second.rank) best = {&entry, kind};
        }
        const bool top = folder == run_.config.Src;
        for (const auto& [base, source] : chosen) {
            sources_[base].push_back(joinPath(folder, source.first->name));
            if (!source.second.jpeg) sourcePaths_.insert(sources_[base].back());
        }
        (top ? sourcesAtTop_ : sourcesBelow_) += chosen.size();
        for (const platform::DirectoryEntry& entry : *entries) {
            if (!entry.isDirectory) continue;
            if (run_.config.Options.recurse) indexSources(joinPath(folder, entry.name));
            else if (top) sourcesBelow_ += countSources(joinPath(folder, entry.name));
        }
    }

    /// How many files of a source's kind a folder holds (not its sub-folders).
    static std::size_t countSources(const std::string& folder) {
        const auto entries = platform::listDirectory(folder);
        std::size_t count = 0;
        for (const platform::DirectoryEntry& entry : entries ? *entries : std::vector<platform::DirectoryEntry>()) {
            if (!entry.isDirectory && kindOf(entry.name, true).candidate) count++;
        }
        return count;
    }

    /// The files under `folder` (and its sub-folders with -r) of a destination's kind that no pair took.
    void listDestinations(const std::string& folder, std::vector<std::string>& found) {
        const platform::FileStatus status = platform::statusOf(folder);
        if (!status.exists || !entered_.insert({status.device, status.inode}).second) return;
        auto entries = platform::listDirectory(folder);
        if (!entries) return;
        std::sort(entries->begin(), entries->end(),
                  [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) { return a.name < b.name; });
        const std::vector<std::string>& exports = exportExtensions();
        for (const platform::DirectoryEntry& entry : *entries) {
            const std::string path = joinPath(folder, entry.name);
            const std::string extension = foldAsciiCase(extensionOf(entry.name));
            const bool destinationKind = kindOf(entry.name, true).jpeg ||
                                         std::find(exports.begin(), exports.end(), extension) != exports.end();
            // A HEIF photo that is its name's source stays a source.
            if (!entry.isDirectory && destinationKind && paired_.count(path) == 0 && sourcePaths_.count(path) == 0)
                found.push_back(path);
        }
        if (!run_.config.Options.recurse) return;
        for (const platform::DirectoryEntry& entry : *entries) {
            if (entry.isDirectory) listDestinations(joinPath(folder, entry.name), found);
        }
    }

    /// The source of a destination's name: a source of the same base name; else the source whose base
    /// name, followed by '-', '_', ' ', '(' or '.', begins the destination's (the longest such name).
    /// Two sources of the matched name clash; the destination itself is never its source.
    Match matchByName(const std::string& path) const {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const std::string base = baseName(name);
        std::vector<std::size_t> lengths = {base.size()};
        for (std::size_t i = base.size(); i-- > 1;) {
            if (std::string("-_ (.").find(base[i]) != std::string::npos) lengths.push_back(i);
        }
        for (std::size_t length : lengths) {
            const auto found = sources_.find(base.substr(0, length));
            if (found == sources_.end()) continue;
            Match match;
            for (const std::string& source : found->second) {
                if (source != path) match.sources.push_back(source);
            }
            if (match.sources.empty()) continue;
            match.clash = match.sources.size() > 1;
            return match;
        }
        return {};
    }

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

    /// The source's exports (PNG, WebP, TIFF, JPEG XL, HEIF) under its base name, each extension in any letter case.
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

    struct Destination {
        std::string path;
        std::string backedUp;  // the name of a photo that exists only as its backup, to be put back
    };

    Destination destinationFor(const std::string& folder, const std::string& sourcePath, const std::string& name) {
        const std::string found = existingDestination(folder, sourcePath, name);
        if (!found.empty()) return {found, ""};
        const std::string path = destinationBase(folder, sourcePath, name) + ".jpg";

        // No such file, but its backup: a rewrite was cut off between its two renames.
        const auto slash = path.find_last_of('/');
        const std::string destinationFolder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        const std::string wanted = slash == std::string::npos ? path : path.substr(slash + 1);
        const FolderIndex& index = indexOf(destinationFolder);
        const auto backup = index.find(foldAsciiCase(wanted + ".old"));
        if (backup != index.end() && endsWith(backup->second, ".old")) {
            return {path, destinationFolder + backup->second.substr(0, backup->second.size() - 4)};
        }
        return {path, ""};
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
    std::vector<Step> steps_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> entered_;
    std::set<std::string> paired_;    // destinations the walk paired
    std::set<std::string> ownPairs_;  // files the walk found to be their own pair
    std::set<std::string> sourcePaths_;  // the sources under Src that are no JPEG
    std::unordered_map<std::string, std::vector<std::string>> sources_;  // by case-folded base name
    std::size_t sourcesAtTop_ = 0, sourcesBelow_ = 0;
    int unmatched_ = 0;
    std::string indexedFolder_;
    bool indexed_ = false;
    FolderIndex index_;
};

}  // namespace

void walkFolder(RunContext& run, std::string folder) {
    FolderWalk walk(run);
    walk.walk(folder);
    if (walk.pairsByName()) walk.pairByName();
    walk.run();
    if (walk.pairsByName()) walk.hint();
}

}  // namespace tagloom
