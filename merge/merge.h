// The merge: which source entries the destination gains, which of its values are replaced,
// which of its entries are dropped; and the diff report that lists them.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "merge/options.h"

class CExifDirectory;
class CExifImage;

/// Merges `source` into `destination` (IFD0, the Exif sub-directory, the maker note, GPS and
/// interoperability data; never chained directories) as the options say (-u, -o, -t), applies the
/// thumbnail and Software rules, counts the differences in destination.diffCount and prints the
/// report under trace bit 1.
void mergeFrom(CExifImage& destination, const CExifImage& source, const TagloomOptions& options);

/// Tags that a directory's merge treats apart.
struct MergeRules {
    std::set<std::uint16_t> leftAlone;    // take no part: never added, replaced or removed
    std::set<std::uint16_t> neverArrive;  // never added or replaced; -o treats them as any other tag
    std::set<std::uint16_t> neverReplaced;  // added where missing, else kept (positions the writer sets)
    bool inSourceOrder = false;           // added entries follow one another as in the source
    std::optional<std::set<std::uint16_t>> takingPart;  // where set, every other tag is left alone

    bool leavesAlone(std::uint16_t tag) const {
        return leftAlone.count(tag) != 0 || (takingPart && takingPart->count(tag) == 0);
    }
};

/// Merges the entries of one source directory into the destination directory of the same role.
/// The k-th source entry of a tag meets the k-th destination entry of that tag.
void mergeEntries(CExifDirectory& destination, const CExifDirectory& source, const TagloomOptions& options,
                  const MergeRules& rules = {});

/// Marks every entry of this one directory removed, counting each newly removed entry.
void markAllRemoved(CExifDirectory& directory);

/// Labels removed entries "remove" and lists every labelled entry of this one directory.
void listDiffs(CExifDirectory& directory);
