// One file pair: load both images, merge, rewrite; every refusal is one line and the run goes on.
#include <cstdio>
#include <memory>
#include <optional>

#include "app/pair_report.h"
#include "app/cli.h"
#include "app/pair.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "merge/merge.h"
#include "pixels/judge.h"
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
            reportFile(run, path, false, "refused", "not done - another run is rewriting it");
            return Interrupted::busy;
        }
    } catch (const platform::IoError&) {
        return Interrupted::none;
    }
    if (run.config.Options.showOnly) {
        reportFile(run, path, false, "refused", "exists only as " + backup + " (an interrupted run)");
        return Interrupted::backupOnly;
    }
    int error = 0;
    if (!run.files.renameNoReplace(backup, path, error)) return Interrupted::none;
    try {
        run.files.syncParentDirectory(path);
    } catch (const platform::IoError&) {
        // restored all the same; the next flush of the folder makes it durable
    }
    run.sink->note(path, "restored from " + backup + " after an interrupted run");
    return Interrupted::restored;
}

void reportFile(RunContext& run, const std::string& path, bool isSource, const std::string& result,
                const std::string& text) {
    if (result == "refused") run.tally.refusals++;
    run.sink->file(path, isSource, result, text);
}

void noteOtherReading(RunContext& run, const std::string& path, CExifImage::Role role) {
    if (run.tally.readableWithAllFormats.count(path) != 0) return;
    CExifImage image;
    try {
        image.load(path, true, Reporter::quiet(), role);
    } catch (const CExifException&) {
        return;
    }
    run.tally.readableWithAllFormats.insert(path);
}

namespace {

/// Checks, merges and (unless -x) rewrites a loaded pair; a refusal throws.
void mergeAndRewrite(RunContext& run, CExifImage& destination, const CExifImage& source) {
    if (!source.hasExif()) {
        CExifException failure(Fault::noExifToCopy);
        failure.fileName = source.path;
        throw failure;
    }
    const TagloomOptions& options = run.config.Options;
    const Reporter& console = run.console();
    run.tally.filesChecked++;
    if (options.allFormats) judgeOrientation(destination, source);
    mergeFrom(destination, source, options, console);
    if (options.showOnly) {
        // --explain is the preview: the pair's line and its differences in words.
        if (options.explain && printResultLine(console, destination)) printDiffLines(console, diffLines(destination));
        return;
    }
    if (!printResultLine(console, destination)) return;
    if (options.explain) printDiffLines(console, diffLines(destination));
    // What a rewrite refuses names no file in the default mode's lines; --all-formats names the destination.
    const std::string named = options.allFormats ? destination.path : std::string();
    ReplaceOutcome outcome;
    try {
        outcome = rewrite(destination, run.rewriting());
    } catch (CExifException& failure) {
        if (failure.fileName.empty()) failure.fileName = named;
        throw;
    }
    if (outcome.updated) run.tally.filesUpdated++;
    if (!outcome.warning.empty()) run.sink->note(named, outcome.warning);
}

/// Runs one step of a pair; a refusal becomes its one report line, and the run goes on. Gives the
/// refusal's words; none when the step went through.
template <typename Step>
std::optional<std::string> reportingRefusals(RunContext& run, const std::string& destinationPath, Step step) {
    std::optional<std::string> refusal;
    try {
        step();
        return refusal;
    } catch (const CExifException& failure) {
        const std::string message = failure.message();
        run.console().line("Tagloom: '%s' %s\n", failure.fileName.c_str(), message.c_str());
        refusal = message;
    } catch (const platform::IoError& failure) {
        run.console().line("Tagloom: '%s' %s\n", destinationPath.c_str(), failure.what());
        refusal = failure.what();
    }
    run.tally.refusals++;
    return refusal;
}

/// The pair's result: its result, its differences, what its source left behind.
void reportPair(RunContext& run, const std::string& sourcePath, const std::string& destinationPath,
                const CExifImage& destination, const CExifImage& source, const std::optional<std::string>& refusal) {
    PairReport report;
    report.source = sourcePath;
    report.destination = destinationPath;
    report.result = refusal              ? "refused"
                    : destination.diffCount == 0 ? "no diffs"
                    : run.config.Options.showOnly ? "preview"
                                                  : "updated";
    if (refusal) report.reason = *refusal;
    report.diffs = diffLines(destination);
    for (const CExifImage::LeftBehind& left : source.leftBehind) report.leftBehind.emplace_back(left.part, left.reason);
    for (const CExifImage::LeftBehind& left : destination.leftBehindByMerge)
        report.leftBehind.emplace_back(left.part, left.reason);
    report.notes = destination.mergeNotes;
    run.sink->pair(std::move(report));
}

}  // namespace

void processPair(RunContext& run, std::string sourcePath, std::string destinationPath) {
    CExifImage destination;
    CExifImage source;
    run.tally.filesFound++;
    if (sourcePath == destinationPath) return;
    if (!isFile(destinationPath)) return;
    int loaded = 0;
    const std::optional<std::string> refusal = reportingRefusals(run, destinationPath, [&] {
        destination.load(destinationPath, run.config.Options.allFormats, run.console());
        ++loaded;
        source.load(sourcePath, run.config.Options.allFormats, run.console(), CExifImage::Role::source);  // a destination that fails means the source is never opened
        ++loaded;
        mergeAndRewrite(run, destination, source);
    });
    if (refusal && loaded < 2 && !run.config.Options.allFormats)
        noteOtherReading(run, loaded == 0 ? destinationPath : sourcePath,
                         loaded == 0 ? CExifImage::Role::destination : CExifImage::Role::source);
    reportPair(run, sourcePath, destinationPath, destination, source, refusal);
}

void processLoadedPair(RunContext& run, CExifImage& destination, const CExifImage& source) {
    const std::optional<std::string> refusal =
        reportingRefusals(run, destination.path, [&] { mergeAndRewrite(run, destination, source); });
    reportPair(run, source.path, destination.path, destination, source, refusal);
}

}  // namespace tagloom
