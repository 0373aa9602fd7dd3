#include "exif/tag_names.h"

#include "exif/text.h"

namespace tagloom {

namespace {

constexpr TagTable M = TagTable::main, G = TagTable::gps, I = TagTable::interop;

const TagName kNames[] = {
    // TIFF 6.0, as Exif uses it in IFD0 and IFD1
    {M, 0x00FE, "NewSubfileType"}, {M, 0x0100, "ImageWidth"}, {M, 0x0101, "ImageLength"},
    {M, 0x0102, "BitsPerSample"}, {M, 0x0103, "Compression"}, {M, 0x0106, "PhotometricInterpretation"},
    {M, 0x010E, "ImageDescription"}, {M, 0x010F, "Make"}, {M, 0x0110, "Model"}, {M, 0x0111, "StripOffsets"},
    {M, 0x0112, "Orientation"}, {M, 0x0115, "SamplesPerPixel"}, {M, 0x0116, "RowsPerStrip"},
    {M, 0x0117, "StripByteCounts"}, {M, 0x011A, "XResolution"}, {M, 0x011B, "YResolution"},
    {M, 0x011C, "PlanarConfiguration"}, {M, 0x0128, "ResolutionUnit"}, {M, 0x012D, "TransferFunction"},
    {M, 0x0131, "Software"}, {M, 0x0132, "DateTime"}, {M, 0x013B, "Artist"}, {M, 0x013E, "WhitePoint"},
    {M, 0x013F, "PrimaryChromaticities"}, {M, 0x0201, "JPEGInterchangeFormat"},
    {M, 0x0202, "JPEGInterchangeFormatLength"}, {M, 0x0211, "YCbCrCoefficients"}, {M, 0x0212, "YCbCrSubSampling"},
    {M, 0x0213, "YCbCrPositioning"}, {M, 0x0214, "ReferenceBlackWhite"}, {M, 0x8298, "Copyright"},
    {M, 0x8769, "ExifIFDPointer"}, {M, 0x8825, "GPSInfoIFDPointer"},
    // Exif 2.32
    {M, 0x829A, "ExposureTime"}, {M, 0x829D, "FNumber"}, {M, 0x8822, "ExposureProgram"},
    {M, 0x8824, "SpectralSensitivity"}, {M, 0x8827, "PhotographicSensitivity"}, {M, 0x8828, "OECF"},
    {M, 0x8830, "SensitivityType"}, {M, 0x8831, "StandardOutputSensitivity"},
    {M, 0x8832, "RecommendedExposureIndex"}, {M, 0x8833, "ISOSpeed"}, {M, 0x8834, "ISOSpeedLatitudeyyy"},
    {M, 0x8835, "ISOSpeedLatitudezzz"}, {M, 0x9000, "ExifVersion"}, {M, 0x9003, "DateTimeOriginal"},
    {M, 0x9004, "DateTimeDigitized"}, {M, 0x9010, "OffsetTime"}, {M, 0x9011, "OffsetTimeOriginal"},
    {M, 0x9012, "OffsetTimeDigitized"}, {M, 0x9101, "ComponentsConfiguration"},
    {M, 0x9102, "CompressedBitsPerPixel"}, {M, 0x9201, "ShutterSpeedValue"}, {M, 0x9202, "ApertureValue"},
    {M, 0x9203, "BrightnessValue"}, {M, 0x9204, "ExposureBiasValue"}, {M, 0x9205, "MaxApertureValue"},
    {M, 0x9206, "SubjectDistance"}, {M, 0x9207, "MeteringMode"}, {M, 0x9208, "LightSource"}, {M, 0x9209, "Flash"},
    {M, 0x920A, "FocalLength"}, {M, 0x9214, "SubjectArea"}, {M, 0x927C, "MakerNote"}, {M, 0x9286, "UserComment"},
    {M, 0x9290, "SubSecTime"}, {M, 0x9291, "SubSecTimeOriginal"}, {M, 0x9292, "SubSecTimeDigitized"},
    {M, 0x9400, "Temperature"}, {M, 0x9401, "Humidity"}, {M, 0x9402, "Pressure"}, {M, 0x9403, "WaterDepth"},
    {M, 0x9404, "Acceleration"}, {M, 0x9405, "CameraElevationAngle"}, {M, 0xA000, "FlashpixVersion"},
    {M, 0xA001, "ColorSpace"}, {M, 0xA002, "PixelXDimension"}, {M, 0xA003, "PixelYDimension"},
    {M, 0xA004, "RelatedSoundFile"}, {M, 0xA005, "InteroperabilityIFDPointer"}, {M, 0xA20B, "FlashEnergy"},
    {M, 0xA20C, "SpatialFrequencyResponse"}, {M, 0xA20E, "FocalPlaneXResolution"},
    {M, 0xA20F, "FocalPlaneYResolution"}, {M, 0xA210, "FocalPlaneResolutionUnit"}, {M, 0xA214, "SubjectLocation"},
    {M, 0xA215, "ExposureIndex"}, {M, 0xA217, "SensingMethod"}, {M, 0xA300, "FileSource"}, {M, 0xA301, "SceneType"},
    {M, 0xA302, "CFAPattern"}, {M, 0xA401, "CustomRendered"}, {M, 0xA402, "ExposureMode"},
    {M, 0xA403, "WhiteBalance"}, {M, 0xA404, "DigitalZoomRatio"}, {M, 0xA405, "FocalLengthIn35mmFilm"},
    {M, 0xA406, "SceneCaptureType"}, {M, 0xA407, "GainControl"}, {M, 0xA408, "Contrast"}, {M, 0xA409, "Saturation"},
    {M, 0xA40A, "Sharpness"}, {M, 0xA40B, "DeviceSettingDescription"}, {M, 0xA40C, "SubjectDistanceRange"},
    {M, 0xA420, "ImageUniqueID"}, {M, 0xA430, "CameraOwnerName"}, {M, 0xA431, "BodySerialNumber"},
    {M, 0xA432, "LensSpecification"}, {M, 0xA433, "LensMake"}, {M, 0xA434, "LensModel"},
    {M, 0xA435, "LensSerialNumber"}, {M, 0xA460, "CompositeImage"}, {M, 0xA461, "SourceImageNumberOfCompositeImage"},
    {M, 0xA462, "SourceExposureTimesOfCompositeImage"}, {M, 0xA500, "Gamma"},
    // GPS
    {G, 0x0000, "GPSVersionID"}, {G, 0x0001, "GPSLatitudeRef"}, {G, 0x0002, "GPSLatitude"},
    {G, 0x0003, "GPSLongitudeRef"}, {G, 0x0004, "GPSLongitude"}, {G, 0x0005, "GPSAltitudeRef"},
    {G, 0x0006, "GPSAltitude"}, {G, 0x0007, "GPSTimeStamp"}, {G, 0x0008, "GPSSatellites"}, {G, 0x0009, "GPSStatus"},
    {G, 0x000A, "GPSMeasureMode"}, {G, 0x000B, "GPSDOP"}, {G, 0x000C, "GPSSpeedRef"}, {G, 0x000D, "GPSSpeed"},
    {G, 0x000E, "GPSTrackRef"}, {G, 0x000F, "GPSTrack"}, {G, 0x0010, "GPSImgDirectionRef"},
    {G, 0x0011, "GPSImgDirection"}, {G, 0x0012, "GPSMapDatum"}, {G, 0x0013, "GPSDestLatitudeRef"},
    {G, 0x0014, "GPSDestLatitude"}, {G, 0x0015, "GPSDestLongitudeRef"}, {G, 0x0016, "GPSDestLongitude"},
    {G, 0x0017, "GPSDestBearingRef"}, {G, 0x0018, "GPSDestBearing"}, {G, 0x0019, "GPSDestDistanceRef"},
    {G, 0x001A, "GPSDestDistance"}, {G, 0x001B, "GPSProcessingMethod"}, {G, 0x001C, "GPSAreaInformation"},
    {G, 0x001D, "GPSDateStamp"}, {G, 0x001E, "GPSDifferential"}, {G, 0x001F, "GPSHPositioningError"},
    // Interoperability
    {I, 0x0001, "InteroperabilityIndex"}, {I, 0x0002, "InteroperabilityVersion"},
    {I, 0x1000, "RelatedImageFileFormat"}, {I, 0x1001, "RelatedImageWidth"}, {I, 0x1002, "RelatedImageLength"},
};

}  // namespace

const char* standardTagName(TagTable table, std::uint16_t tag) {
    for (const TagName& known : kNames) {
        if (known.table == table && known.tag == tag) return known.name;
    }
    return nullptr;
}

const TagName* tagNamed(const std::string& name) {
    for (const TagName& known : kNames) {
        if (equalIgnoringAsciiCase(name, known.name)) return &known;
    }
    return nullptr;
}

}  // namespace tagloom
