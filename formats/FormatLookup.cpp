#include "formats/FormatLookup.h"

#include "formats/Catalogue.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/Text.h"

namespace {

// The name without the file pattern the catalogue shows after it: "iPod Video H.264 (*.mp4)"
// is found as "iPod Video H.264".
std::string BareName(const std::string& name) {
    const size_t open = name.rfind("(*.");
    return open == std::string::npos ? name : Trim(name.substr(0, open));
}

}  // namespace

std::vector<int> FindFormats(TEdition edition, const IniFile& definitions, const std::string& text) {
    const std::string wanted = Lower(Trim(text));
    if (wanted.empty()) return {};
    const std::vector<int> codes = CatalogueFormatCodes(edition);
    for (int code : codes)
        if (std::to_string(code) == wanted) return {code};

    std::vector<int> byName;
    for (int code : codes)
    {
        const std::string name = Lower(Trim(CatalogueFormatName(edition, code)));
        if (name == wanted || BareName(name) == wanted) byName.push_back(code);
    }
    if (!byName.empty()) return byName;

    const std::string extension = wanted[0] == '.' ? wanted.substr(1) : wanted;
    std::vector<int> byExtension;
    for (int code : codes)
        if (Lower(Trim(definitions.ReadString(FormatSectionName(code), settings_key::FileExtension, ""))) == extension)
            byExtension.push_back(code);
    return byExtension;
}
