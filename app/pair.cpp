// One file pair: load both images, merge, rewrite; every refusal is one line and the run goes on.
#include <cstdio>
#include <memory>

#include "app/tagloom.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "exif/run_state.h"
#include "merge/merge.h"
#include "writer/rewrite.h"

void processPair(std::string sourcePath, std::string destinationPath) {
    CExifImage destination;
    CExifImage source;
    filesFound++;
    if (sourcePath == destinationPath) return;
    if (!isFile(destinationPath)) return;
    try {
        destination.load(destinationPath);
        source.load(sourcePath);  // a destination that fails means the source is never opened
        filesChecked++;
        mergeFrom(destination, source);
        if (!Options.showOnly) rewrite(destination);
    } catch (CExifException* raw) {
        std::unique_ptr<CExifException> failure(raw);
        std::printf("Tagloom: '%s' %s\n", failure->fileName.c_str(), failure->message.c_str());
    } catch (const platform::IoError& failure) {
        std::printf("Tagloom: '%s' %s\n", destinationPath.c_str(), failure.what());
    }
}
