#include <cstdio>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    const TCliParse parsed = ParseCommandLine(std::vector<std::string>(argv, argv + argc));
    const TCommandLine& line = parsed.Line;
    if (!parsed.Error.empty() || line.Command == ccNone) {
        if (!parsed.Error.empty()) std::fprintf(stderr, "reelshift-cli: %s\n", parsed.Error.c_str());
        PrintUsage(stderr);
        return 2;
    }
    switch (line.Command) {
    case ccHelp:
        PrintUsage(stdout);
        return 0;
    case ccVersion:
        std::printf("reelshift-cli %d.%d.%d.%d\n", REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR,
                    REELSHIFT_VERSION_PATCH, REELSHIFT_VERSION_TWEAK);
        return 0;
    case ccListOptions:
        if (!line.Operands().empty()) break;
        PrintOptionList(stdout);
        return 0;
    case ccConvert: return ConvertCommand(line);
    case ccListFormats: return ListFormatsCommand(line);
    case ccInfo: return InfoCommand(line);
    case ccEngine: return EngineCommand(line);
    case ccPlayCheck: return PlayCheckCommand(line);
    case ccNone: break;
    }
    PrintUsage(stderr);
    return 2;
}
