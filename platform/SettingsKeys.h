#pragma once
// Section and key names of the settings file and of the format definition files, in one
// place: the windows, the catalogue, the option builder and the terminal commands read and
// write the same entries, and a name typed twice is a name that can drift apart. The files
// match names without regard to case; the spelling here is the one written.
namespace settings_key {

// ---- section "settings" of the settings file
inline constexpr const char* Section = "settings";
inline constexpr const char* FormatCode = "FormatCode";      // the chosen output format's code
inline constexpr const char* FormatName = "FormatName";      // ... and its name as shown
inline constexpr const char* OutputFolder = "OutPutDir";     // where converted files go
inline constexpr const char* FlatListIndex = "OutPutFormat";  // the older flat format list's row
inline constexpr const char* SnapshotFolder = "SnapOutPutDir";
inline constexpr const char* SnapshotFullSize = "snapFullSize";
inline constexpr const char* SnapshotSmallSize = "snapSmallSize";
inline constexpr const char* SnapshotBmp = "snapBmp";
inline constexpr const char* SnapshotJpg = "snapJpg";
inline constexpr const char* SnapshotJpgQuality = "jpgCmp";
inline constexpr const char* Priority = "priority";          // of the conversion threads
inline constexpr const char* SkinIndex = "skinIndex";
inline constexpr const char* Volume = "volume";              // of the preview player
inline constexpr const char* Mute = "mute";
// The picture made to look like the source (1 = on, the default): turned upright by the
// source's rotation, deinterlaced for progressive outputs, HDR tone-mapped for SDR outputs.
inline constexpr const char* AutoRotate = "autoRotate";
inline constexpr const char* AutoDeinterlace = "autoDeinterlace";
inline constexpr const char* AutoToneMap = "autoToneMap";

// ---- section "lstformat": key = a category's number, value = collapsed in the format list
inline constexpr const char* CollapsedCategoriesSection = "lstformat";

// ---- keys of a format's section ("formatInfo" + code)
inline constexpr const char* FormatSectionPrefix = "formatInfo";
inline constexpr const char* FileExtension = "FileExt";      // definition: the output's extension
inline constexpr const char* ContainerFormat = "Format";     // definition: the muxer, "null" for none
inline constexpr const char* Device = "Device";              // definition: the device family
inline constexpr const char* EncoderOptions = "EncoderOptions";  // definition: the encoder's own settings
inline constexpr const char* Zoom = "paraZoom";              // settings: the job's zoom mode

}  // namespace settings_key
