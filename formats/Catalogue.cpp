#include "formats/Catalogue.h"

#include <stdexcept>

#include "platform/SettingsKeys.h"

namespace {

const std::vector<std::string>& GeneralVideoFormats() {
    static const std::vector<std::string> formats{
        "MPEG-1 Video (*.mpg)",
        "MPEG-2 Video (*.mpg)",
        "MPEG-4 Video (*.mp4)",
        "H.264/MPEG-4 AVC Video (*.mp4)",
        "AVI Video (*.avi)",
        "WMV Video (*.wmv)",
        "Divx Video (*.avi)",
        "Xvid Video (*.avi)",
        "DV - NTSC -Digital Video Format (*.dv)",
        "DV - PAL -Digital Video Format (*.dv)",
    };
    return formats;
}

const std::vector<std::string>& GeneralAudioFormats() {
    static const std::vector<std::string> formats{
        "MP3 MPEG Layer-3 Audio (*.mp3)",
        "AAC Advenced Audio Codec (*.aac)",
        "M4A MPEG-4 Audio (*.m4a)",
        "WMA - Windows Meida Audio (*.wma)",
        "WAV - Waveform Audio (*.wav)",
        "OGG Vorbis Audio Codec (*.ogg)",
        "AC-3 Audio Codec (*.ac3)",
    };
    return formats;
}

// Today's formats, after the original categories in both editions.
const char* const TodaysFormatsCategory = "Today's Formats - HEVC, AV1, VP9, Lossless";

const std::vector<std::string>& TodaysFormats() {
    static const std::vector<std::string> formats{
        "MP4 - H.265/HEVC Video (*.mp4)",
        "MKV - H.265/HEVC 10-bit Video (*.mkv)",
        "MP4 - AV1 Video (*.mp4)",
        "WebM - AV1 Video with Opus (*.webm)",
        "WebM - VP9 Video with Opus (*.webm)",
        "MKV - H.264 Video (*.mkv)",
        "MOV - ProRes 422 for Editing (*.mov)",
        "MOV - DNxHR HQX for Editing (*.mov)",
        "MP4 - H.264 fits 10 MB (*.mp4)",
        "MP4 - H.264 fits 25 MB (*.mp4)",
        "MP4 - H.264 fits 50 MB (*.mp4)",
        "Opus Audio (*.opus)",
        "FLAC - Free Lossless Audio (*.flac)",
        "ALAC - Apple Lossless Audio (*.m4a)",
    };
    return formats;
}

std::vector<TCatalogueCategory> MakeVideoCatalogue() {
    return {
        {0, "Apple iPod",
         {"iPod Video MPEG-4 (*.mp4)", "iPod Video H.264 (*.mp4)", "iPod MPEG-4 Excellent (320 x 240)(*.mp4)",
          "iPod MPEG-4 Normal (320 x 240)(*.mp4)", "iPod MPEG-4 Mini (320 x 240)(*.mp4)",
          "iPod Touch MPEG-4 Excellent (*.mp4)", "iPod Touch MPEG-4 (480 x 320) (*.mp4)",
          "iPod Touch MPEG-4 (320 x 240) (*.mp4)", "iPod Touch MPEG-4 Wide Screen (*.mp4)"}},
        {1, "Apple iPhone",
         {"iPhone MPEG-4 Extra Video (*.mp4)", "iPhone MPEG-4 Wide Screen (*.mp4)", "iPhone MPEG-4 Movie (*.mp4)",
          "iPhone Movie for 480p TV Out (*.mp4)", "iPhone Movie for 576p TV Out (*.mp4)"}},
        {2, "Apple TV",
         {"Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)", "Apple TV (640 x 480) MPEG-4 Normal (*.mp4)",
          "Apple TV (640 x 480) MPEG-4 Mini (*.mp4)", "Apple H.264 (320 x 240) (*.mp4)",
          "Apple H.264 480P (640 x 480) (*.mp4)", "Apple H.264 720p (1280 x 720) (*.mp4)"}},
        {3, "GPhone", {"GPhone MPEG-4 Movie (*.mp4)"}},
        {4, "Sony PSP",
         {"PSP MPEG-4 Excellent Quality (*.mp4)", "PSP MPEG-4 Normal Quality (*.mp4)", "PSP MPEG-4 Mini Size (*.mp4)",
          "PSP H.264/AVC Video (*.mp4)", "PSP Video (480P) (*.mp4)"}},
        {5, "Sony PS3",
         {"PS3 MPEG-4 Video (480P) (*.mp4)", "PS3 MPEG-4 Video (480P) Excellent (*.mp4)",
          "PS3 MPEG-4 Video (720P) (*.mp4)", "PS3 MPEG-4 Video (1080P) (*.mp4)"}},
        {6, "Microsoft Zune",
         {"Microsoft Zune MPEG-4 Video (*.mp4)", "Microsoft Zune MPEG-4 AVC Video (*.mp4)",
          "Microsoft Zune Windows Media Video (*.wmv)"}},
        {7, "Sony Walkman",
         {"Sony Walkman MPEG-4 Video (*.mp4)", "Sony Walkman AVC Video (*.mp4)", "Sony Walkman WMV Video (*.wmv)"}},
        {8, "Archos",
         {"Archos H.264 Video (*.mp4)", "Archos MPEG4 Video (*.mp4)", "Archos 105 Video (*.wmv)",
          "Archos 404/405 Video (*.avi)", "Archos 504/604 Video (*.avi)", "Archos 605/705/TV+ Video (*.avi)",
          "Archos AV500/700 Video (*.avi)"}},
        {9, "Creative Zen",
         {"Creative Zen H.264 Video (*.mp4)", "Creative Zen MPEG4 Video (*.mp4)", "Creative Zen Xvid Video (*.avi)",
          "Creative Zen X-Fi Video (*.avi)", "Creative Zen Vison Video (*.avi)", "Creative Zen Vison M Video (*.avi)",
          "Creative Zen Vison W Video (*.avi)"}},
        {10, "iRiver",
         {"iRiver H.264 Video (*.mp4)", "iRiver MPEG4 Video (*.mp4)", "iRiver WMV Video (*.wmv)",
          "iRiver Xvid Video (*.avi)", "iRiver E10 Video (*.avi)", "iRiver U10/Clix Video (*.avi)",
          "iRiver B20/X20/Clix 2/E100/Lplayer Video (*.avi)", "iRiver Spinn/D28/DICPLE D30 Video (*.avi)",
          "iRiver P10/P20 Video (*.avi)", "iRiver PMP-120/140/IMP-1000/1100 Video (*.avi)"}},
        {11, "Sandisk Sansa",
         {"Sandisk Sansa AVI Video (*.avi)", "Sandisk Sansa WMV Video (*.wmv)", "Sandisk Sansa MPEG-4 Video (*.mp4)"}},
        {12, "Microsoft xbox 360",
         {"Microsoft Xbox WMV Video (*.wmv)", "Microsoft Xbox AVI Video (*.avi)",
          "Microsoft Xbox MPEG-4 Video (*.mp4)"}},
        {13, "Nitendeo WII", {"Nitendeo Wii AVI Video (*.avi)", "Nitendeo Wii MOV Video (*.mov)"}},
        {14, "Mobile Phone",
         {"Mobile Phone 3GP h263 Video(*.3gp)", "Mobile Phone 3GP MPEG-4 Video(*.3gp)",
          "Mobile Phone 3GP2 h263 Video(*.3gp)", "Mobile Phone 3GP2 MPEG-4 Video(*.3gp)",
          "Mobile Phone MPEG-4 Video(*.mp4)", "Nokia N Series MPEG-4 Video(*.mp4)"}},
        {15, "BlackBerry", {"BlackBerry MPEG-4 Video(*.mp4)"}},
        {16, "Nokia", {"Nokia N Series MPEG-4 Video (*.mp4)"}},
        {17, "Windows Mobile",
         {"Dell Axim 51 Video (*.wmv)", "Dell Axim 51V Video (*.wmv)", "HP iPAQ hw6500 Series Video (*.wmv)",
          "HP iPAQ hx2000/rx3000/rx1900 Series Video (*.wmv)", "HP iPAQ hx4700 Series Video (*.wmv)",
          "Palm Treo Series Video (*.wmv)", "HTC Touch Diamond Video (*.wmv)", "General Pocket PC Video (*.wmv)"}},
        {18, "Quick Time Video - MOV", {"MOV - Quick Time Video (*.mov)"}},
        {19, "Flash Video", {"Flash Video Format (*.flv)", "Flash SWF Format (*.swf)"}},
        {20, "Toshiba Gigabeat", {"Toshiba Gigabeat WMV Movie (*.wmv)"}},
        {21, "HD Video",
         {"HD AVI Video (*.avi)", "HD Divx Video (*.avi)", "HD H.264/MPEG-4 AVC Video (*.mp4)", "HD MOV Video (*.mov)",
          "HD WMV Video (*.wmv)", "HD MPEG-4 Video (*.mp4)", "HD Xvid Video (*.avi)", "HD MPEG2-PS Video (*.mpg)",
          "HD MPEG2-TS Video (*.ts)"}},
        {22, "DVD Video", {"DVD - NTSC MPEG-2 Moive (*.mpg)", "DVD - PAL MPEG-2 Moive (*.mpg)"}},
        {23, "SVCD Video", {"SVCD - NTSC MPEG-2 Moive (*.mpg)", "SVCD - PAL MPEG-2 Moive (*.mpg)"}},
        {24, "VCD Video", {"VCD - NTSC MPEG-1 Moive (*.mpg)", "VCD - PAL MPEG-1 Moive (*.mpg)"}},
        {25, "Matroska Video - MKV", {"MKV - Matroska Video (*.mkv)"}},
        {26, "General Video formates", GeneralVideoFormats()},
        {27, "General Audio formates", GeneralAudioFormats()},
        {28, TodaysFormatsCategory, TodaysFormats()},
    };
}

std::vector<TCatalogueCategory> MakeMp4AviCatalogue() {
    return {
        {0, "Audio-Video-Interleaved - AVI", {"AVI - Audio-Video-Interleaved(*.avi)"}},
        {1, "General Video formates", GeneralVideoFormats()},
        {2, "General Audio formates", GeneralAudioFormats()},
        {3, TodaysFormatsCategory, TodaysFormats()},
    };
}

// Format rows carry this instead of a caption; their text comes from the name table.
const char* const FormatRowFiller = "format";

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

const std::vector<TCatalogueCategory>& CatalogueCategories(TEdition edition) {
    static const std::vector<TCatalogueCategory> video = MakeVideoCatalogue();
    static const std::vector<TCatalogueCategory> mp4avi = MakeMp4AviCatalogue();
    return edition == TEdition::Video ? video : mp4avi;
}

std::string CatalogueFormatName(TEdition edition, int code) {
    if (code < 0) return "";
    const int category = code / 100, index = code % 100;
    for (const auto& c : CatalogueCategories(edition))
        if (c.Number == category) return size_t(index) < c.Formats.size() ? c.Formats[size_t(index)] : "";
    return "";
}

std::vector<int> CatalogueFormatCodes(TEdition edition) {
    std::vector<int> codes;
    for (const auto& c : CatalogueCategories(edition))
        for (size_t i = 0; i < c.Formats.size(); ++i) codes.push_back(c.Number * 100 + int(i));
    return codes;
}

std::string FormatSectionName(int code) {
    return settings_key::FormatSectionPrefix + std::to_string(code);
}

void TFormatNames::Clear() {
    for (auto& row : FCells)
        for (auto& cell : row) cell.clear();
}

std::string& TFormatNames::Cell(int category, int index) {
    return FCells.at(size_t(category)).at(size_t(index));
}

const std::string& TFormatNames::Cell(int category, int index) const {
    return FCells.at(size_t(category)).at(size_t(index));
}

void TFormatCatalogueModel::Build(TEdition edition, const IniFile& settings) {
    FNames.Clear();
    FRows.clear();
    for (const auto& category : CatalogueCategories(edition)) {
        TItemInfo info;
        info.IsCategory = true;
        info.Caption = category.Name;
        info.Code = category.Number;
        info.Collapsed = settings.ReadBool(settings_key::CollapsedCategoriesSection, std::to_string(category.Number), true);
        FRows.push_back(info);
        for (size_t i = 0; i < category.Formats.size() && i < size_t(TFormatNames::Size); ++i)
            FNames.Cell(category.Number, int(i)) = category.Formats[i];
        if (!info.Collapsed) InsertFormats(FRows.size(), category.Number, ColumnsAtLoad);
    }
}

void TFormatCatalogueModel::InsertFormats(size_t at, int category, int columns) {
    std::vector<TItemInfo> formats;
    for (int i = 0; i < columns; ++i) {
        if (FNames.Cell(category, i).empty()) continue;
        TItemInfo info;
        info.IsFormat = true;
        info.Caption = FormatRowFiller;
        info.Code = category * 100 + i;
        formats.push_back(info);
    }
    FRows.insert(FRows.begin() + long(at), formats.begin(), formats.end());
}

std::string TFormatCatalogueModel::RowText(int row) const {
    const TItemInfo& info = Row(row);
    if (info.IsCategory) return info.Caption;
    return FNames.Cell(info.Code / 100, info.Code % 100);
}

void TFormatCatalogueModel::Toggle(int row) {
    if (row < 0 || row >= RowCount() || !FRows[size_t(row)].IsCategory) return;
    TItemInfo& category = FRows[size_t(row)];
    if (category.Collapsed) {
        category.Collapsed = false;
        InsertFormats(size_t(row) + 1, category.Code, ColumnsOnToggle);
        return;
    }
    category.Collapsed = true;
    auto first = FRows.begin() + row + 1;
    auto last = first;
    while (last != FRows.end() && last->IsFormat) ++last;
    FRows.erase(first, last);
}

void TFormatCatalogueModel::SaveCollapseState(IniFile& settings) const {
    for (const auto& info : FRows)
        if (info.IsCategory) settings.WriteBool(settings_key::CollapsedCategoriesSection, std::to_string(info.Code), info.Collapsed);
}

int TFormatCatalogueModel::FindRow(const std::string& text) const {
    const std::string wanted = Trimmed(text);
    for (int row = 0; row < RowCount(); ++row)
        if (RowText(row) == wanted) return row;
    return -1;
}

int TFormatCatalogueModel::ListHeight(int rowCount, int itemHeight) {
    return rowCount * itemHeight > MaxListHeight ? MaxListHeight : (rowCount + 1) * itemHeight;
}
