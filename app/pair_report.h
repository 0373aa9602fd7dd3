// What a pair did, for people (--explain: each difference in words) and for scripts (--json: one
// object a line): each difference with its tag's name and values, the parts a source left behind,
// the pair's result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "exif/report.h"

namespace tagloom {

class CExifImage;

/// A value as a report shows it: text in quotes, integers, rationals as n/d, several values with
/// spaces between them, other bytes as "(N bytes)"; for JSON a number where it is one integer.
struct ShownValue {
    std::string text;
    nlohmann::json json;
    std::string display;  // as people read it (f/2.8), where the tag has such a form; else empty
};

/// One difference of a merged destination.
struct DiffLine {
    std::string action;     // "add", "change", "remove"
    std::string directory;  // "IFD0", "SUB0" ...
    std::string tag;        // "0x010f"
    std::string name;       // the standard name; a maker-note tag or one the standards lack as the listing shows it
    std::optional<ShownValue> before;
    std::optional<ShownValue> after;
};

/// The differences of a merged destination, directory by directory in the listing's order (the
/// thumbnail directory's removal behind IFD0).
std::vector<DiffLine> diffLines(const CExifImage& destination);

/// Prints them, one a line, under the pair's line.
void printDiffLines(const Reporter& reporter, const std::vector<DiffLine>& lines);

/// The pair's result line: "<path> - N diffs", or "<path> - no diffs"; true when there are diffs.
bool printResultLine(const Reporter& report, const CExifImage& image);

/// Text for a JSON string: valid UTF-8 as it is, any other byte as the code point of its value, so
/// that nothing is dropped and the writer never fails.
std::string losslessUtf8(const std::string& bytes);

/// One pair as a JSON object: source, destination, result, reason, diffs, left_behind, notes.
struct PairReport {
    std::string source;
    std::string destination;
    std::string result;  // "updated", "no diffs", "preview", "refused", "skipped"
    std::string reason;
    std::vector<DiffLine> diffs;
    std::vector<std::pair<std::string, std::string>> leftBehind;  // part, reason
    std::vector<std::string> notes;
};
std::string toJsonLine(const PairReport& report);

}  // namespace tagloom
