// How tags merge, as the command line says (the writer's options are writer/options.h, the run's
// app/options.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

#include "exif/format.h"

namespace tagloom {

/// Tags that --only or --except name, by top directory in the order of kTopDirectories (IFD0, the
/// Exif sub-directory, the maker note, GPS, interoperability): a whole directory, or some of its tags.
struct TagSet {
    bool whole[top::kCount] = {};
    std::set<std::uint16_t> tags[top::kCount];

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

}  // namespace tagloom
