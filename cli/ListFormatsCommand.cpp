#include <cstdio>

#include "cli/Commands.h"
#include "formats/Catalogue.h"
#include "formats/Edition.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

// One line per format: code, category, name and the extension its definition gives,
// separated by tabs so that scripts can cut the columns.
int ListFormatsCommand(const TCommandLine& line) {
    TEdition edition = CompiledEdition();
    for (const TCliArgument& a : line.Arguments) {
        if (a.Option == "--edition") {
            if (!ParseEditionName(a.Value, edition)) {
                std::fprintf(stderr, "reelshift-cli: unknown edition '%s' (use mp4avi or video)\n", a.Value.c_str());
                return 2;
            }
        } else if (a.Option.empty()) {
            std::fprintf(stderr, "reelshift-cli: unexpected argument '%s'\n", a.Value.c_str());
            std::fprintf(stderr, "usage: reelshift-cli --list-formats [--edition mp4avi|video]\n");
            return 2;
        }
    }
    if (const std::string problem = FormatFileProblem(edition); !problem.empty()) {
        std::fprintf(stderr, "reelshift-cli: %s\n", problem.c_str());
        return 1;
    }
    const IniFile definitions(FindFormatFile(edition));
    for (const auto& category : CatalogueCategories(edition))
        for (size_t i = 0; i < category.Formats.size(); ++i) {
            const int code = category.Number * 100 + int(i);
            const std::string ext = definitions.ReadString(FormatSectionName(code), settings_key::FileExtension, "mp4");
            std::printf("%d\t%s\t%s\t%s\n", code, category.Name.c_str(), category.Formats[i].c_str(), ext.c_str());
        }
    return 0;
}
