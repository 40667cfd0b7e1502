#pragma once
// The application's state object: which edition runs, where its two INI files are, its
// title, version text and web addresses. Every window that touches the settings file opens
// it by SettingsFile.
#include <string>
#include <vector>

#include "formats/Edition.h"

class TGlobalObject {
public:
    const std::string& SettingsFile() const { return FSettingsFile; }
    const std::string& FormatFile() const { return FFormatFile; }
    const std::string& Title() const { return FTitle; }
    const std::string& VersionText() const { return FVersionText; }
    const std::string& HelpAddress() const { return FHelpAddress; }
    const std::string& WebSiteAddress() const { return FWebSiteAddress; }
    const std::string& DownloadAddress() const { return FDownloadAddress; }

    // A text the setter does not accept leaves the field as it was. The two paths must be
    // longer than 3 characters; every other text must not be empty.
    void SetSettingsFile(const std::string& value);
    void SetFormatFile(const std::string& value);
    void SetTitle(const std::string& value);
    void SetVersionText(const std::string& value);
    void SetHelpAddress(const std::string& value);
    void SetWebSiteAddress(const std::string& value);
    void SetDownloadAddress(const std::string& value);

private:
    std::string FSettingsFile;
    std::string FFormatFile;
    std::string FTitle;
    std::string FVersionText;
    std::string FHelpAddress;
    std::string FWebSiteAddress;
    std::string FDownloadAddress;
};

// " 3.300 " for version 3.3.0.0: a blank, the major number, ".", the other three numbers
// run together, a blank.
std::string FormatVersionText(int major, int minor, int release, int build);
// The text of the version this program was built as.
std::string CompiledVersionText();

// Web pages of the maker, per edition.
struct TWebAddresses {
    std::string Help;
    std::string WebSite;
    std::string Download;
    std::string Support;  // the maker's home page
};
const TWebAddresses& EditionWebAddresses(bool videoEdition);

// Another product of the maker, offered in the "Related Software" menu.
struct TRelatedProduct {
    std::string Caption;
    std::string Address;  // opened with "?" and the running program's title appended
};
const std::vector<TRelatedProduct>& RelatedProducts(bool videoEdition);

// The state object of the compiled edition, as the main window starts with it.
TGlobalObject EditionGlobalObject();
