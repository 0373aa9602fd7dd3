// One file pair: load both images, merge, rewrite; every refusal is one line and the run goes on.
#include <cstdio>
#include <memory>

#include "app/run_state.h"
#include "app/tagloom.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "merge/merge.h"
#include "platform/platform.h"
#include "writer/rewrite.h"

Interrupted restoreInterrupted(const std::string& path) {
    // A cut between the two renames of a swap without hard links leaves the old photo as its backup
    // and the complete new file as its temporary file, and nothing under its name. A backup alone
    // is one that -s kept: its photo was moved or deleted since, and it stays where it is.
    const std::string backup = path + ".old";
    if (platform::statusOf(path).exists || !platform::statusOf(path + ".tmp").exists) return Interrupted::none;
    platform::File held = platform::File::openForReading(backup);
    try {
        if (!held.isOpen()) return Interrupted::none;
        if (!held.tryLock()) {  // its run is still swapping
            std::printf("Tagloom: '%s' not done - another run is rewriting it\n", path.c_str());
            return Interrupted::busy;
        }
    } catch (const platform::IoError&) {
        return Interrupted::none;
    }
    if (Options.showOnly) {
        std::printf("Tagloom: '%s' exists only as %s (an interrupted run)\n", path.c_str(), backup.c_str());
        return Interrupted::backupOnly;
    }
    int error = 0;
    if (!platform::renameNoReplace(backup, path, error)) return Interrupted::none;
    try {
        platform::syncParentDirectory(path);
    } catch (const platform::IoError&) {
        // restored all the same; the next flush of the folder makes it durable
    }
    std::printf("Tagloom: '%s' restored from %s after an interrupted run\n", path.c_str(), backup.c_str());
    return Interrupted::restored;
}

void processPair(std::string sourcePath, std::string destinationPath) {
    CExifImage destination;
    CExifImage source;
    filesFound++;
    if (sourcePath == destinationPath) return;
    if (!isFile(destinationPath)) return;
    try {
        destination.load(destinationPath, Options.allFormats);
        source.load(sourcePath, Options.allFormats);  // a destination that fails means the source is never opened
        if (!source.hasExif()) {
            auto* failure = new CExifException("no Exif data to copy");
            failure->fileName = sourcePath;
            throw failure;
        }
        filesChecked++;
        mergeFrom(destination, source, Options);
        if (!Options.showOnly) {
            // What a rewrite refuses names no file in the default mode's lines; --all-formats names the destination.
            const std::string named = Options.allFormats ? destinationPath : std::string();
            RewriteOutcome outcome;
            try {
                outcome = rewrite(destination, Options, CopyBuffer{copyBuffer, kCopyBufferSize});
            } catch (CExifException* failure) {
                if (failure->fileName.empty()) failure->fileName = named;
                throw;
            }
            if (outcome.updated) filesUpdated++;
            if (!outcome.warning.empty()) std::printf("Tagloom: '%s' %s\n", named.c_str(), outcome.warning.c_str());
        }
    } catch (CExifException* raw) {
        std::unique_ptr<CExifException> failure(raw);
        std::printf("Tagloom: '%s' %s\n", failure->fileName.c_str(), failure->message.c_str());
    } catch (const platform::IoError& failure) {
        std::printf("Tagloom: '%s' %s\n", destinationPath.c_str(), failure.what());
    }
}
