// The options of a run, as the command line sets them; the merge and the writer are handed them.
#pragma once

#include <cstdint>

/// One field per flag; each of the first six is set to 1 by its flag and never back to 0.
struct TagloomOptions {
    std::int32_t recurse = 0;         // -r: also walk the sub-folders of Src
    std::int32_t copyMismatched = 0;  // -u: replace destination entries whose data differ
    std::int32_t overwrite = 0;       // -o: remove destination entries that the source lacks
    std::int32_t keepBackup = 0;      // -s: keep the ".old" backup of each rewritten destination
    std::int32_t showOnly = 0;        // -x: never rewrite; also turns on bit 1 of verboseMask
    std::int32_t dropThumbnail = 0;   // -t: remove the thumbnail directory (IFD1)
    std::int32_t verboseMask = 0;     // -v: which traces are printed
    bool allFormats = false;          // --all-formats: JPEGs with the Exif segment anywhere or none
    bool keepTime = false;            // --keep-time: the rewritten file keeps the old modification time
};
