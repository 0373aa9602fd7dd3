// The merge: which source entries the destination gains, which of its values are replaced,
// which of its entries are dropped; and the diff report that lists them.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "exif/format.h"
#include "exif/report.h"
#include "merge/options.h"

namespace tagloom {

class CExifDirectory;
class CExifImage;

/// Merges `source` into `destination` (IFD0, the Exif sub-directory, the maker note, GPS and
/// interoperability data; never chained directories) as the options say (-u, -o, -t), applies the
/// thumbnail and Software rules, counts the differences in destination.diffCount and prints the
/// report under trace bit 1.
void mergeFrom(CExifImage& destination, const CExifImage& source, const MergeOptions& options,
               const Reporter& reporter = Reporter::quiet());

/// Tags that a directory's merge treats apart.
struct MergeRules {
    std::set<std::uint16_t> leftAlone;    // take no part: never added, replaced or removed
    std::set<std::uint16_t> neverArrive;  // never added or replaced; -o treats them as any other tag
    std::set<std::uint16_t> neverReplaced;  // added where missing, else kept (positions the writer sets)
    /// Values that are positions in their own file: a zero leads nowhere and merges like any value;
    /// a source's non-zero one never arrives, a destination's non-zero one is never replaced or removed.
    std::set<std::uint16_t> positions;
    bool inSourceOrder = false;           // added entries follow one another as in the source
    bool keepsWhatSourceLacks = false;    // -o removes nothing (the source left some of its entries behind)
    std::optional<std::set<std::uint16_t>> takingPart;  // where set, every other tag is left alone

    bool leavesAlone(std::uint16_t tag) const {
        return leftAlone.count(tag) != 0 || (takingPart && takingPart->count(tag) == 0);
    }
};

/// What the merge of one pair will do, decided before anything changes: a pure function of the two
/// images.
struct MergePlan {
    MergeRules rules[top::kCount];  // of each top directory, in the order of kTopDirectories
    bool stays[top::kCount] = {};            // the source left it (or the directory it hangs from) behind: no merge
    bool noteMerges = false;       // the maker note (and its entry) takes part
    /// Why the source's note would not read back as it is, where it would not: it stays, said in a line.
    const char* noteStaysBehind = nullptr;
    bool takesNoteKind = false;    // a destination without a note takes the source's kind and header
    bool takesSourceOrder = false;  // a destination without Exif data takes the source's byte order
    /// An export whose editor turned its pixels upright keeps its own Orientation (1 where it has none).
    bool orientationStays = false;
    /// Its own pixels, compared with the source's thumbnail, decided its Orientation
    /// (destination.orientationByPixels).
    bool orientationByPixels = false;
    /// An export that only --all-formats reads: its PixelXDimension and PixelYDimension are its own.
    bool describesOwnPixels = false;
};

/// Decides the rules of each directory for this pair: Software, a raw source's own image tags, the
/// maker note between cameras, kinds and byte orders, positions, previews, the order of what arrives.
MergePlan planMerge(const CExifImage& destination, const CExifImage& source, const MergeOptions& options = {});

/// Merges the entries of one source directory into the destination directory of the same role.
/// The k-th source entry of a tag meets the k-th destination entry of that tag.
void mergeEntries(CExifDirectory& destination, const CExifDirectory& source, const MergeOptions& options,
                  const MergeRules& rules = {});

/// Marks every entry of this one directory removed, counting each newly removed entry.
void markAllRemoved(CExifDirectory& directory);

/// Lists every entry of this one directory that the merge added, changed or removed.
void listDiffs(const CExifDirectory& directory, const Reporter& reporter);

}  // namespace tagloom
