// The options of a run, as the command line sets them: the merge's and the writer's, and the run's own.
#pragma once

#include <cstdint>

#include "merge/options.h"
#include "writer/options.h"

namespace tagloom {

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
