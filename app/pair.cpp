// One file pair: load both images, merge, rewrite; every refusal is one line and the run goes on.
#include <cstdio>
#include <memory>

#include "app/tagloom.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "merge/merge.h"
#include "platform/platform.h"
#include "writer/rewrite.h"

namespace tagloom {

Interrupted restoreInterrupted(RunContext& run, const std::string& path) {
    // A cut between the two renames of a swap without hard links leaves the old photo as its backup
    // and the complete new file as its temporary file, and nothing under its name. A backup alone
    // is one that -s kept: its photo was moved or deleted since, and it stays where it is.
    const std::string backup = path + ".old";
    if (platform::statusOf(path).exists || !platform::statusOf(path + ".tmp").exists) return Interrupted::none;
    platform::File held = platform::File::openForReading(backup);
    try {
        if (!held.isOpen()) return Interrupted::none;
        if (!held.tryLock()) {  // its run is still swapping
            run.reporter.line("Tagloom: '%s' not done - another run is rewriting it\n", path.c_str());
            return Interrupted::busy;
        }
    } catch (const platform::IoError&) {
        return Interrupted::none;
    }
    if (run.Options.showOnly) {
        run.reporter.line("Tagloom: '%s' exists only as %s (an interrupted run)\n", path.c_str(), backup.c_str());
        return Interrupted::backupOnly;
    }
    int error = 0;
    if (!run.files.renameNoReplace(backup, path, error)) return Interrupted::none;
    try {
        run.files.syncParentDirectory(path);
    } catch (const platform::IoError&) {
        // restored all the same; the next flush of the folder makes it durable
    }
    run.reporter.line("Tagloom: '%s' restored from %s after an interrupted run\n", path.c_str(), backup.c_str());
    return Interrupted::restored;
}

namespace {

/// Checks, merges and (unless -x) rewrites a loaded pair; a refusal throws.
void mergeAndRewrite(RunContext& run, CExifImage& destination, const CExifImage& source) {
    if (!source.hasExif()) {
        auto* failure = new CExifException("no Exif data to copy");
        failure->fileName = source.path;
        throw failure;
    }
    run.filesChecked++;
    mergeFrom(destination, source, run.Options, run.reporter);
    if (run.Options.showOnly) return;
    // What a rewrite refuses names no file in the default mode's lines; --all-formats names the destination.
    const std::string named = run.Options.allFormats ? destination.path : std::string();
    RewriteOutcome outcome;
    try {
        outcome = rewrite(destination, run.rewriting());
    } catch (CExifException* failure) {
        if (failure->fileName.empty()) failure->fileName = named;
        throw;
    }
    if (outcome.updated) run.filesUpdated++;
    if (!outcome.warning.empty()) run.reporter.line("Tagloom: '%s' %s\n", named.c_str(), outcome.warning.c_str());
}

/// Runs one step of a pair; a refusal becomes its one report line, and the run goes on.
template <typename Step>
void reportingRefusals(RunContext& run, const std::string& destinationPath, Step step) {
    try {
        step();
    } catch (CExifException* raw) {
        std::unique_ptr<CExifException> failure(raw);
        run.reporter.line("Tagloom: '%s' %s\n", failure->fileName.c_str(), failure->message.c_str());
    } catch (const platform::IoError& failure) {
        run.reporter.line("Tagloom: '%s' %s\n", destinationPath.c_str(), failure.what());
    }
}

}  // namespace

void processPair(RunContext& run, std::string sourcePath, std::string destinationPath) {
    CExifImage destination;
    CExifImage source;
    run.filesFound++;
    if (sourcePath == destinationPath) return;
    if (!isFile(destinationPath)) return;
    reportingRefusals(run, destinationPath, [&] {
        destination.load(destinationPath, run.Options.allFormats, run.reporter);
        source.load(sourcePath, run.Options.allFormats, run.reporter, CExifImage::Role::source);  // a destination that fails means the source is never opened
        mergeAndRewrite(run, destination, source);
    });
}

void processLoadedPair(RunContext& run, CExifImage& destination, const CExifImage& source) {
    reportingRefusals(run, destination.path, [&] { mergeAndRewrite(run, destination, source); });
}

}  // namespace tagloom
