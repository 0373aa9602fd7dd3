#include "merge/merge.h"

#include <algorithm>

#include "exif/format.h"
#include "exif/image.h"
#include "exif/run_state.h"

namespace {

bool sameValue(const CExifEntry& a, const CExifEntry& b) {
    if (a.size != b.size) return false;
    return std::equal(a.data.begin(), a.data.begin() + a.size, b.data.begin());
}

void copyValue(CExifEntry& to, const CExifEntry& from) {
    to.data.assign(from.data.begin(), from.data.begin() + from.size);
    to.type = from.type;
    to.count = from.count;
    to.storedOffset = from.storedOffset;
    to.size = from.size;
}

}  // namespace

void mergeEntries(CExifDirectory& destination, const CExifDirectory& source) {
    for (const CExifEntry* s = source.entries.first(); s != nullptr; s = source.entries.next(s)) {
        CExifEntry* d = destination.findEntry(s->tag);
        if (d == nullptr) {
            d = new CExifEntry(&destination, s->tag, s->type, s->count, s->size);
            // Before the first entry with a strictly greater tag, else at the end.
            CExifEntry* greater = destination.entries.first();
            while (greater != nullptr && greater->tag <= s->tag) greater = destination.entries.next(greater);
            if (greater != nullptr) {
                destination.entries.insertBefore(greater, d);
            } else {
                destination.entries.append(d);
            }
            copyValue(*d, *s);
            d->action = "add";
        } else if (Options.copyMismatched && !s->isPointer && !d->isPointer && !d->removed && !sameValue(*d, *s)) {
            copyValue(*d, *s);
            d->action = "change";
        }
        // Counted on the label: a repeated source tag counts its destination entry again.
        if (!d->action.empty()) destination.owner->diffCount++;
    }

    if (!Options.overwrite) return;
    for (CExifEntry* d = destination.entries.first(); d != nullptr; d = destination.entries.next(d)) {
        if (source.findEntry(d->tag) == nullptr && !d->removed) {
            d->removed = true;
            destination.owner->diffCount++;
        }
    }
}

void markAllRemoved(CExifDirectory& directory) {
    for (CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (entry->removed) continue;
        entry->removed = true;
        directory.owner->diffCount++;
    }
}

void listDiffs(CExifDirectory& directory) {
    int line = 0;
    for (CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (entry->removed) entry->action = "remove";
        if (entry->action.empty()) continue;
        ++line;
        printVerbose(verbose::kDiffs, "    %02d %s%d:0x%04x %-8s - %u bytes\n", line, directory.prefix.c_str(),
                     directory.index, entry->tag, entry->action.c_str(), entry->size);
    }
}

void mergeFrom(CExifImage& destination, const CExifImage& source) {
    if (Options.dropThumbnail && destination.ifd0.next) markAllRemoved(*destination.ifd0.next);

    mergeEntries(destination.ifd0, source.ifd0);
    mergeEntries(destination.subIfd, source.subIfd);
    mergeEntries(destination.makerNote, source.makerNote);
    mergeEntries(destination.gpsIfd, source.gpsIfd);
    mergeEntries(destination.interopIfd, source.interopIfd);
    if (destination.diffCount == 0) return;

    // A rewritten destination never keeps a Software entry: the tool that wrote it is not the camera.
    CExifEntry* software = destination.ifd0.findEntry(tag::kSoftware);
    if (software != nullptr && !software->removed) {
        software->removed = true;
        destination.diffCount++;
    }

    printVerbose(verbose::kDiffs, "%s diffs:\n", destination.path.c_str());
    for (CExifDirectory* directory : {&destination.ifd0, &destination.subIfd, &destination.makerNote,
                                      &destination.gpsIfd, &destination.interopIfd}) {
        listDiffs(*directory);
    }
    printVerbose(verbose::kDiffs, "\n");
}
