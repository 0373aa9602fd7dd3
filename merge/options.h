// The options of a run, as the command line sets them, split by who needs them: the merge is
// handed its own, the writer its own, and the run driver holds them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

namespace tagloom {

/// Tags that --only or --except name, by top directory in the order of kTopDirectories (IFD0, the
/// Exif sub-directory, the maker note, GPS, interoperability): a whole directory, or some of its tags.
struct TagSet {
    bool whole[5] = {};
    std::set<std::uint16_t> tags[5];

    bool holds(std::size_t directory, std::uint16_t tag) const {
        return whole[directory] || tags[directory].count(tag) != 0;
    }
};

/// How tags merge. Each is set to 1 by its flag and never back to 0.
struct MergeOptions {
    std::int32_t copyMismatched = 0;  // -u: replace destination entries whose data differ
    std::int32_t overwrite = 0;       // -o: remove destination entries that the source lacks
    std::int32_t dropThumbnail = 0;   // -t: remove the thumbnail directory (IFD1)
    std::optional<TagSet> only;       // --only: the tags that take part; none: all
    TagSet except;                    // --except: tags that take no part

    /// True when the options leave the tag to take part in the merge.
    bool chooses(std::size_t directory, std::uint16_t tag) const {
        return (!only || only->holds(directory, tag)) && !except.holds(directory, tag);
    }
};

/// How a destination is rewritten.
struct WriteOptions {
    std::int32_t keepBackup = 0;  // -s: keep the ".old" backup of each rewritten destination
    bool keepTime = false;        // --keep-time: the rewritten file keeps the old modification time
    bool allFormats = false;      // --all-formats: also names the file in every refusal line
};

/// One field per flag; each flag's number is set to 1 by its flag and never back to 0.
struct TagloomOptions : MergeOptions, WriteOptions {
    std::int32_t recurse = 0;      // -r: also walk the sub-folders of Src
    std::int32_t showOnly = 0;     // -x: never rewrite; also turns on bit 1 of verboseMask
    std::int32_t verboseMask = 0;  // -v: which traces are printed
    std::int32_t traceAsked = 0;   // -v alone: what -x adds is not asked for
    bool explain = false;          // --explain: each difference in words under its pair's line
    bool json = false;             // --json: one JSON object a line instead of text
    bool failOnRefusal = false;    // --fail-on-refusal: exit status 3 when a pair was refused
    // allFormats (--all-formats) also reads JPEGs with the Exif segment anywhere or none, big-endian
    // data, maker notes by their kind and raw files of every kind.
};

}  // namespace tagloom
