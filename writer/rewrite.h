// Rebuilding a destination file with its new Exif segment, and swapping it in.
#pragma once

class CExifImage;

/// Writes the merged destination anew: header, new Exif block and the old file's image data,
/// under "<path>.tmp"; then swaps it in, keeping "<path>.old" under -s. Prints the result line.
/// Throws CExifException* on refusal; the destination is then exactly as it was.
void rewrite(CExifImage& image);
