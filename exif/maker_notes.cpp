#include "exif/maker_notes.h"

#include <cstring>
#include <iterator>

namespace {

using Directory = MakerNoteKind::Directory;
using Order = MakerNoteKind::Order;

#define SIGNATURE(text) text, sizeof(text) - 1

// From what cameras write: where the directory starts, its byte order, what its offsets count from;
// for relaid notes, the preview they point to and the range of tags that hold sub-directories.
const MakerNoteKind kKinds[] = {
    // Behind a header, offsets from the outer TIFF header: relaid.
    {"Nikon type 2", SIGNATURE("Nikon\0\1\0"), nullptr, true, Directory::at, 8, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Olympus type 1", SIGNATURE("OLYMP\0"), nullptr, true, Directory::at, 8, Order::outer, 0, 0, 0x1036, 0x1037, 0x2010, 0x5000},
    {"Epson", SIGNATURE("EPSON\0"), nullptr, true, Directory::at, 8, Order::outer, 0, 0, 0x1036, 0x1037, 0x2010, 0x5000},
    {"Panasonic", SIGNATURE("Panasonic\0\0\0"), nullptr, true, Directory::at, 12, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Sony", SIGNATURE("SONY DSC \0\0\0"), nullptr, true, Directory::at, 12, Order::outer, 0, 0, 0x0201, 0x0202, 0, 0},
    {"Sony", SIGNATURE("SONY CAM \0\0\0"), nullptr, true, Directory::at, 12, Order::outer, 0, 0, 0x0201, 0x0202, 0, 0},
    {"Sony", SIGNATURE("SONY MOBILE\0"), nullptr, true, Directory::at, 12, Order::outer, 0, 0, 0x0201, 0x0202, 0, 0},
    {"Sanyo", SIGNATURE("SANYO\0"), nullptr, true, Directory::at, 8, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Casio type 2", SIGNATURE("QVC\0\0\0"), nullptr, true, Directory::at, 6, Order::outer, 0, 0, 0x0004, 0x0003, 0, 0},
    {"Sigma", SIGNATURE("SIGMA\0\0\0"), nullptr, true, Directory::at, 10, Order::outer, 0, 0, 0x001A, 0x001B, 0, 0},
    {"Sigma", SIGNATURE("FOVEON\0\0"), nullptr, true, Directory::at, 10, Order::outer, 0, 0, 0x001A, 0x001B, 0, 0},
    {"Pentax", SIGNATURE("AOC\0"), nullptr, true, Directory::at, 6, Order::bytesAt, 4, 0, 0x0004, 0x0003, 0, 0},
    // Self-contained, offsets from the note itself: carried as one block.
    {"Nikon type 3", SIGNATURE("Nikon\0\2"), nullptr, false, Directory::tiffHeaderAt, 10, Order::bytesAt, 10, 10, 0x0201, 0x0202, 0, 0,
     {0x0011, 0x0e10}},  // PreviewIFD, NikonScanIFD
    {"Olympus type 2", SIGNATURE("OLYMPUS\0"), nullptr, false, Directory::at, 12, Order::bytesAt, 8, 0, 0x0101, 0x0102, 0x2010, 0x5000},
    {"OM System", SIGNATURE("OM SYSTEM\0\0\0"), nullptr, false, Directory::at, 16, Order::bytesAt, 12, 0, 0x0101, 0x0102, 0x2010, 0x5000},
    {"Fujifilm", SIGNATURE("FUJIFILM"), nullptr, false, Directory::offsetAt, 8, Order::little, 0, 0, 0, 0, 0, 0},
    {"Apple", SIGNATURE("Apple iOS\0"), nullptr, false, Directory::at, 14, Order::big, 0, 0, 0, 0, 0, 0},
    {"Pentax", SIGNATURE("PENTAX \0"), nullptr, false, Directory::at, 10, Order::bytesAt, 8, 0, 0, 0, 0, 0},
    {"Ricoh", SIGNATURE("RICOH\0"), nullptr, false, Directory::at, 8, Order::bytesAt, 6, 0, 0, 0, 0, 0},
    {"Motorola", SIGNATURE("MOT\0"), nullptr, false, Directory::at, 8, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Kodak PIXPRO", SIGNATURE("II*\0"), nullptr, false, Directory::tiffHeaderAt, 0, Order::bytesAt, 0, 0, 0, 0, 0, 0},
    {"Kodak PIXPRO", SIGNATURE("MM\0*"), nullptr, false, Directory::tiffHeaderAt, 0, Order::bytesAt, 0, 0, 0, 0, 0, 0},
    // No directory at all: the declared bytes, as they are.
    {"Kodak", SIGNATURE("KDK"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Ricoh text", SIGNATURE("Rv0"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Konica", SIGNATURE("KC"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Samsung", SIGNATURE("STMN"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"RIM", SIGNATURE("RIM0"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"HTC", SIGNATURE("htcI"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"VER", SIGNATURE("VER:"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    // Phase One's raw data where other files keep their note.
    {"Phase One raw data", SIGNATURE("IIIICwaR"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0, {}, true},
    {"Phase One raw data", SIGNATURE("MMMMRawC"), nullptr, false, Directory::none, 0, Order::outer, 0, 0, 0, 0, 0, 0, {}, true},
    // Offsets from the note or from the TIFF header by model: not read.
    {"Leica", SIGNATURE("LEICA\0"), nullptr, false, Directory::unsettled, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    // No signature: by the camera's Make, after every signature.
    {"Samsung", nullptr, 0, "SAMSUNG", false, Directory::at, 0, Order::outer, 0, 0, 0, 0, 0, 0},
    {"Minolta", nullptr, 0, "Minolta", true, Directory::at, 0, Order::outer, 0, 0, 0x0088, 0x0089, 0, 0},
    {"Minolta", nullptr, 0, "KONICA MINOLTA", true, Directory::at, 0, Order::outer, 0, 0, 0x0088, 0x0089, 0, 0},
    {"Minolta", nullptr, 0, "Konica Minolta", true, Directory::at, 0, Order::outer, 0, 0, 0x0088, 0x0089, 0, 0},
};

#undef SIGNATURE

}  // namespace

const MakerNoteKind* recogniseMakerNote(const std::uint8_t* head, std::size_t n, const char* make, std::size_t makeSize) {
    for (const MakerNoteKind& kind : kKinds) {
        if (kind.signature != nullptr) {
            if (n >= kind.signatureLength && std::memcmp(head, kind.signature, kind.signatureLength) == 0) return &kind;
        } else if (make != nullptr && makeSize >= std::strlen(kind.make) &&
                   std::memcmp(make, kind.make, std::strlen(kind.make)) == 0) {
            return &kind;
        }
    }
    return nullptr;
}
