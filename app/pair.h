// One file pair: load both images, merge, rewrite; every refusal is one line and the run goes on.
#pragma once

#include <string>

#include "app/run_context.h"
#include "exif/image.h"

namespace tagloom {

/// Loads both images, merges, rewrites unless -x; any refusal becomes one report line.
void processPair(RunContext& run, std::string sourcePath, std::string destinationPath);
/// The same for two images loaded already (from memory, say): the checks, the merge, the rewrite.
void processLoadedPair(RunContext& run, CExifImage& destination, const CExifImage& source);

/// A line of the run about one file that is no pair's result (see ResultSink::file); a refusal counts
/// for --fail-on-refusal.
void reportFile(RunContext& run, const std::string& path, bool isSource, const std::string& result,
                const std::string& text);

/// Notes, for the hint at the end of a run without --all-formats, a file that this reading refused
/// or passed over when --all-formats loads it in that role.
void noteOtherReading(RunContext& run, const std::string& path, CExifImage::Role role);

/// What a rewrite cut off between its two renames left where `path` is missing.
enum class Interrupted {
    none,        // no such rewrite: `path` exists, or is simply missing
    restored,    // "<path>.old" is `path` again, said in one line
    busy,        // another run is between its renames: said in one line, nothing touched
    backupOnly,  // under -x: said in one line, nothing touched
};

/// Puts back "<path>.old" as `path` where an interrupted rewrite left the photo only as its backup:
/// `path` missing, "<path>.old" and "<path>.tmp" present. Nothing under -x, or while another run
/// holds the backup.
Interrupted restoreInterrupted(RunContext& run, const std::string& path);

}  // namespace tagloom
