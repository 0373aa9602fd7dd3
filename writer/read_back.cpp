#include "writer/read_back.h"

#include <algorithm>
#include <cstring>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/tiff_view.h"

namespace tagloom {

namespace {

constexpr std::size_t kTops = top::kCount;

/// The entry of `holder` that leads to the top directory, when it will be written as a pointer.
const CExifEntry* pointerTo(const CExifImage& image, const TopDirectory& top) {
    const CExifEntry* pointer = (image.*top.holder).findEntry(top.pointerTag);
    if (pointer == nullptr || pointer->removed) return nullptr;
    if (!top.followedAnySize && pointer->size < exif::kInlineValueSize) return nullptr;
    return pointer;
}

/// True when the rewritten file holds the top directory where a reader finds it: behind a live
/// pointer in a directory that it holds too.
bool holdsDirectory(const CExifImage& image, std::size_t index) {
    const TopDirectory& top = kTopDirectories[index];
    if (top.holder == nullptr) return true;
    return holdsDirectory(image, top.holderIndex) && pointerTo(image, top) != nullptr;
}

/// True for an entry whose value is where a top directory lies (or the maker note itself).
bool leadsToTop(const CExifImage& image, const CExifEntry& entry) {
    for (const TopDirectory& top : kTopDirectories) {
        if (top.holder != nullptr && &(image.*top.holder) == entry.directory && top.pointerTag == entry.tag)
            return top.followedAnySize || entry.size >= exif::kInlineValueSize;
    }
    return false;
}

bool sameValue(const CExifEntry& planned, const CExifEntry& read, const PatchedValues& patched) {
    if (planned.count != read.count) return false;
    const auto position = patched.find(&planned);
    if (position != patched.end()) return read.size >= 4 && read.valueAsU32() == position->second;
    return planned.size == read.size && std::equal(planned.data.begin(), planned.data.begin() + planned.size, read.data.begin());
}

/// The first entry of two directories (and the directories chained behind them) that differs.
std::string firstDifference(const CExifImage& planned, const CExifDirectory& mine, const CExifDirectory& theirs,
                            const PatchedValues& patched) {
    const CExifEntry* p = mine.entries.first();
    const CExifEntry* r = theirs.entries.first();
    while (true) {
        while (p != nullptr && p->removed) p = mine.entries.next(p);
        if (p == nullptr || r == nullptr) break;
        const bool pointer = leadsToTop(planned, *p);
        if (p->tag != r->tag || p->type != r->type || (!pointer && !sameValue(*p, *r, patched)))
            return entryPart(mine, p->tag);
        p = mine.entries.next(p);
        r = theirs.entries.next(r);
    }
    if (p != nullptr) return entryPart(mine, p->tag);  // it went
    if (r != nullptr) return entryPart(mine, r->tag);  // it appeared
    if (static_cast<bool>(mine.next) != static_cast<bool>(theirs.next)) return mine.name() + " chain";
    return mine.next ? firstDifference(planned, *mine.next, *theirs.next, patched) : std::string();
}

/// True when the merge put a value into the directory.
bool gainedValues(const CExifDirectory& directory) {
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (!entry->removed && entry->change != CExifEntry::Change::none) return true;
    }
    return false;
}

}  // namespace

std::string partNotReadBack(const CExifImage& planned, const CExifImage& readBack, const PatchedValues& patched) {
    if (planned.byteOrder != readBack.byteOrder) return "byte order";
    for (std::size_t i = 0; i < kTops; ++i) {
        const TopDirectory& top = kTopDirectories[i];
        const CExifDirectory& mine = planned.*top.directory;
        const CExifDirectory& theirs = readBack.*top.directory;
        const bool held = holdsDirectory(planned, i);
        // Values that arrive in a directory nobody points to would be listed and never written.
        if (!held && gainedValues(mine)) return mine.name();
        if (!held) continue;
        if (top.isPointerValue &&
            (planned.makerNoteKind != readBack.makerNoteKind || planned.makerNoteHeader != readBack.makerNoteHeader))
            return mine.name() + " kind";
        const std::string part = firstDifference(planned, mine, theirs, patched);
        if (!part.empty()) return part;
    }
    return "";
}

void ensureReadsBack(const CExifImage& planned, const std::vector<platform::Piece>& content, const PatchedValues& patched,
                     bool allFormats) {
    const SourceBytes bytes(content);
    CExifImage again;
    std::string part;
    try {
        again.loadFromBytes(planned.path, bytes, allFormats);
        part = partNotReadBack(planned, again, patched);
    } catch (const CExifException& failure) {
        part = failure.message();
    }
    if (part.empty()) return;
    CExifException failure(Fault::notReadBack, {part});
    failure.fileName = planned.path;
    throw failure;
}

}  // namespace tagloom
