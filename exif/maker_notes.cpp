#include "exif/maker_notes.h"

#include <cstring>
#include <iterator>

namespace tagloom {

namespace {

using Kind = MakerNoteKind;
using Order = MakerNoteKind::Order;

// From what cameras write. Signatures first, then the rows by Make.
const MakerNoteKind kKinds[] = {
    // Behind a header, offsets from the outer TIFF header: relaid.
    Kind::relaid("Nikon type 2").startsWith("Nikon\0\1\0").at(8),
    Kind::relaid("Olympus type 1").startsWith("OLYMP\0").at(8).preview(0x1036, 0x1037)
        .previewIn(0x2020, 0x0101, 0x0102).subDirectories(0x2010, 0x5000),
    Kind::relaid("Epson").startsWith("EPSON\0").at(8).preview(0x1036, 0x1037)
        .previewIn(0x2020, 0x0101, 0x0102).subDirectories(0x2010, 0x5000),
    Kind::relaid("Panasonic").startsWith("Panasonic\0\0\0").at(12),
    Kind::relaid("Sony").startsWith("SONY DSC \0\0\0").at(12).preview(0x0201, 0x0202),
    Kind::relaid("Sony").startsWith("SONY CAM \0\0\0").at(12).preview(0x0201, 0x0202),
    Kind::relaid("Sony").startsWith("SONY MOBILE\0").at(12).preview(0x0201, 0x0202),
    Kind::relaid("Sanyo").startsWith("SANYO\0").at(8).carriedWholeWhenValuesLieOutside(),  // J1, J2, J4, S1, S3, S4
    Kind::relaid("Casio type 2").startsWith("QVC\0\0\0").at(6).preview(0x0004, 0x0003),
    Kind::relaid("Sigma").startsWith("SIGMA\0\0\0").at(10).preview(0x001A, 0x001B),
    Kind::relaid("Sigma").startsWith("FOVEON\0\0").at(10).preview(0x001A, 0x001B),
    Kind::relaid("Pentax").startsWith("AOC\0").at(6).orderNamedAt(4).preview(0x0004, 0x0003),
    Kind::relaid("JVC").startsWith("JVC ").at(4),
    // Self-contained, offsets from the note itself: carried as one block.
    Kind::block("Nikon type 3").startsWith("Nikon\0\2").tiffHeaderAt(10).orderNamedAt(10).offsetsFrom(10)
        .previewDirectoryAt(0x0011, 0x0201, 0x0202).subDirectoryAt(0x0011, 0x0e10)  // PreviewIFD, NikonScanIFD
        .mayReachPastItsEnd(),  // Nikon Capture NX, and editors that rewrite such notes
    Kind::block("Olympus type 2").startsWith("OLYMPUS\0").at(12).orderNamedAt(8)
        .previewIn(0x2020, 0x0101, 0x0102).subDirectories(0x2010, 0x5000),
    Kind::block("OM System").startsWith("OM SYSTEM\0\0\0").at(16).orderNamedAt(12)
        .previewIn(0x2020, 0x0101, 0x0102).subDirectories(0x2010, 0x5000),
    Kind::block("Fujifilm").startsWith("FUJIFILM").offsetAt(8).inOrder(Order::little),
    Kind::block("Apple").startsWith("Apple iOS\0").at(14).inOrder(Order::big),
    Kind::block("Pentax").startsWith("PENTAX \0").at(10).orderNamedAt(8),
    Kind::block("Ricoh").startsWith("RICOH\0II").at(8).orderNamedAt(6),  // Pentax-made
    Kind::block("Ricoh").startsWith("RICOH\0MM").at(8).orderNamedAt(6),
    Kind::block("Motorola").startsWith("MOT\0").at(8),
    Kind::block("Sony Ericsson").startsWith("SEMC MS\0").tiffHeaderAt(12).orderNamedAt(12).offsetsFrom(12),
    Kind::block("GE").startsWith("GE\0\0").tiffHeaderAt(10).orderNamedAt(10).offsetsFrom(10),
    Kind::block("Kodak PIXPRO").startsWith("II*\0").tiffHeaderAt(0).orderNamedAt(0).countMayBePadded(),
    Kind::block("Kodak PIXPRO").startsWith("MM\0*").tiffHeaderAt(0).orderNamedAt(0).countMayBePadded(),
    // Behind a header, offsets from the outer TIFF header (after the Pentax-made Ricoh rows).
    // 0x2001: "[Ricoh Camera Info]\0", then a big-endian directory whose offsets count from the TIFF header
    Kind::relaid("Ricoh").startsWith("RICOH").at(8).subDirectoryAt(0x2001).subDirectoriesStayBehind(),
    Kind::relaid("Ricoh").startsWith("Ricoh").at(8).subDirectoryAt(0x2001).subDirectoriesStayBehind(),
    // No directory at all, or offsets that count from each entry: the declared bytes, as they are.
    Kind::noDirectory("Kodak").startsWith("KDK"),
    Kind::noDirectory("Ricoh text").startsWith("Rv0"),
    Kind::noDirectory("Konica").startsWith("KC"),
    Kind::noDirectory("Samsung").startsWith("STMN"),
    Kind::noDirectory("RIM").startsWith("RIM0"),
    Kind::noDirectory("HTC").startsWith("htcI"),
    Kind::noDirectory("VER").startsWith("VER:"),
    Kind::noDirectory("Kyocera").startsWith("KYOCERA"),
    // Phase One's raw data where other files keep their note.
    Kind::rawData("Phase One raw data").startsWith("IIIICwaR"),
    Kind::rawData("Phase One raw data").startsWith("MMMMRawC"),
    // Offsets from the note or from the TIFF header by model: not read.
    Kind::unsettled("Leica").startsWith("LEICA\0"),
    // No signature: by the camera's Make.
    Kind::block("Samsung").madeBy("SAMSUNG").at(0),
    Kind::noDirectory("Pentax, offsets from each entry").madeBy("Asahi"),  // Optio 330, 430
    Kind::relaid("Minolta").madeBy("Minolta").at(0).preview(0x0088, 0x0089).positionAt(0x0088, false),
    Kind::relaid("Minolta").madeBy("KONICA MINOLTA").at(0).preview(0x0088, 0x0089).positionAt(0x0088, false),
    Kind::relaid("Minolta").madeBy("Konica Minolta").at(0).preview(0x0088, 0x0089).positionAt(0x0088, false),
    // OriginalDecisionDataOffset; headerless Nikon's PreviewIFD, a directory of its own in the segment.
    Kind::plainDirectory("Canon").madeBy("Canon").positionAt(0x0083, true).endsWithFooter(),
    Kind::plainDirectory("Nikon").madeBy("NIKON").positionAt(0x0011, false)
        .subDirectoryAt(0x0011).previewDirectoryAt(0x0011, 0x0201, 0x0202),  // laid out anew by --all-formats
};

const MakerNoteKind kWithoutDirectory = Kind::noDirectory("no directory");

bool beginsWith(const char* text, std::size_t size, const char* prefix, bool ignoreCase) {
    const std::size_t length = std::strlen(prefix);
    if (text == nullptr || size < length) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != prefix[i] && !(ignoreCase && lower(text[i]) == lower(prefix[i]))) return false;
    }
    return true;
}

}  // namespace

const MakerNoteKind* recogniseMakerNote(const std::uint8_t* head, std::size_t n, const char* make, std::size_t makeSize) {
    for (const MakerNoteKind& kind : kKinds) {
        if (kind.signature != nullptr && n >= kind.signatureLength &&
            std::memcmp(head, kind.signature, kind.signatureLength) == 0)
            return &kind;
    }
    return makerNoteKindOfMake(make, makeSize, true);
}

const MakerNoteKind* makerNoteKindOfMake(const char* make, std::size_t makeSize, bool ignoreCase) {
    for (const MakerNoteKind& kind : kKinds) {
        if (kind.make != nullptr && beginsWith(make, makeSize, kind.make, ignoreCase)) return &kind;
    }
    return nullptr;
}

const MakerNoteKind& noteWithoutDirectory() { return kWithoutDirectory; }

MakerNoteRows makerNoteKinds() { return MakerNoteRows{std::begin(kKinds), std::end(kKinds)}; }

}  // namespace tagloom
