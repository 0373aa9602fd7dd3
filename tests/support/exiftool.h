// exiftool as an independent reader of the files Tagloom writes.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fixture {

/// What exiftool's verbose listing shows of a file: per directory ("IFD0", "ExifIFD", "MakerNotes",
/// "GPS", "InteropIFD", "IFD1"), each tag's value as text ("" for a sub-directory that exiftool
/// decodes further); and its validation warnings.
struct ExiftoolView {
    std::map<std::string, std::map<std::uint16_t, std::string>> directories;  // first of repeated tags
    std::map<std::string, std::set<std::uint16_t>> repeated;  // tags a directory holds more than once
    std::string validation;  // exiftool -validate -warning -a output

    const std::map<std::uint16_t, std::string>& operator[](const std::string& directory) const;
    bool has(const std::string& directory, std::uint16_t tag) const;
    bool isRepeated(const std::string& directory, std::uint16_t tag) const;
};

ExiftoolView readWithExiftool(const std::string& path);
/// The same for many files in two runs of exiftool, keyed by path.
std::map<std::string, ExiftoolView> readWithExiftool(const std::vector<std::string>& paths);
/// Each file's IFD1 thumbnail as exiftool extracts it (base64), keyed by path; "" when there is none.
std::map<std::string, std::string> thumbnailsWithExiftool(const std::vector<std::string>& paths);
/// Each file's value of a binary tag ("PreviewImage", "IFD1:ThumbnailImage") as exiftool extracts
/// it (base64), keyed by path; "" when there is none. One run of exiftool for all.
std::map<std::string, std::string> binaryWithExiftool(const std::string& tag, const std::vector<std::string>& paths);
/// exiftool's values of a file's EXIF and maker-note tags (without `makerNotes`, its EXIF tags but
/// the maker note) as `valueGroups` lists them, one "[group] name : value" line each, without the
/// positions a rewrite moves, the tags `left` names, the thumbnail directory (IFD1), what exiftool
/// counts with them but other segments hold (CIFF, Qualcomm), and the pixel size (the Exif
/// sub-directory's and IFD0's), which a file that only --all-formats reads takes from its own frame
/// (the samples' frames are cut down).
std::string keptValues(const std::string& listing, const std::set<std::string>& left, bool makerNotes);
const char* valueGroups(bool makerNotes);

/// The samples' camera JPEGs that the default reading takes, each a different camera or writer.
extern const std::vector<std::string> kCameraPhotos;

/// What one run of exiftool with `options` prints of each file, keyed by path.
std::map<std::string, std::string> exiftoolPerFile(const std::string& options, const std::vector<std::string>& paths);

}  // namespace fixture
