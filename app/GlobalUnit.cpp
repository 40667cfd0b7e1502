#include "app/GlobalUnit.h"

#include "formats/Edition.h"

void TGlobalObject::SetSettingsFile(const std::string& value) {
    if (value.size() > 3) FSettingsFile = value;
}
void TGlobalObject::SetFormatFile(const std::string& value) {
    if (value.size() > 3) FFormatFile = value;
}
void TGlobalObject::SetTitle(const std::string& value) {
    if (!value.empty()) FTitle = value;
}
void TGlobalObject::SetVersionText(const std::string& value) {
    if (!value.empty()) FVersionText = value;
}
void TGlobalObject::SetHelpAddress(const std::string& value) {
    if (!value.empty()) FHelpAddress = value;
}
void TGlobalObject::SetWebSiteAddress(const std::string& value) {
    if (!value.empty()) FWebSiteAddress = value;
}
void TGlobalObject::SetDownloadAddress(const std::string& value) {
    if (!value.empty()) FDownloadAddress = value;
}

std::string FormatVersionText(int major, int minor, int release, int build) {
    return " " + std::to_string(major) + "." + std::to_string(minor) + std::to_string(release) +
           std::to_string(build) + " ";
}

std::string CompiledVersionText() {
    return FormatVersionText(REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR, REELSHIFT_VERSION_PATCH,
                             REELSHIFT_VERSION_TWEAK);
}

const TWebAddresses& EditionWebAddresses(bool videoEdition) {
    static const TWebAddresses video{
        "https://www.zantosoft.com/video-converter/help.html",
        "https://www.zantosoft.com/video-converter/",
        "https://www.zantosoft.com/download/zanto-video-converter.tar.gz",
        "https://www.zantosoft.com/",
    };
    static const TWebAddresses mp4avi{
        "https://www.zantosoft.com/mp4-to-avi-converter/help.html",
        "https://www.zantosoft.com/mp4-to-avi-converter/",
        "https://www.zantosoft.com/download/zanto-mp4-to-avi-converter.tar.gz",
        "https://www.zantosoft.com/",
    };
    return videoEdition ? video : mp4avi;
}

const std::vector<TRelatedProduct>& RelatedProducts(bool videoEdition) {
    // Each edition points at the other one.
    static const std::vector<TRelatedProduct> fromVideo{
        {"Zanto MP4 to AVI Converter", "https://www.zantosoft.com/mp4-to-avi-converter/"},
    };
    static const std::vector<TRelatedProduct> fromMp4Avi{
        {"Zanto Video Converter", "https://www.zantosoft.com/video-converter/"},
    };
    return videoEdition ? fromVideo : fromMp4Avi;
}

TGlobalObject EditionGlobalObject() {
    const TEdition edition = CompiledEdition();
    const TEditionProfile& profile = EditionProfile(edition);
    const TWebAddresses& web = EditionWebAddresses(edition == TEdition::Video);
    TGlobalObject g;
    g.SetSettingsFile(EditionSettingsFile(edition));
    g.SetFormatFile(FindFormatFile(edition));
    g.SetTitle(profile.Title);
    g.SetHelpAddress(web.Help);
    g.SetWebSiteAddress(web.WebSite);
    g.SetDownloadAddress(web.Download);
    return g;
}
