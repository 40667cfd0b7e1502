#include "cli/CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

constexpr unsigned kEdits = ccConvert;
constexpr int kLongBase = 256;  // getopt's codes for options without a short name start here

}  // namespace

const std::vector<TCliOption>& CliOptions() {
    static const std::vector<TCliOption> options = {
        // The commands.
        {"format", 0, true, ccConvert, ccConvert},
        {"list-formats", 0, false, ccListFormats, ccListFormats},
        {"info", 0, false, ccInfo, ccInfo},
        {"engine", 0, false, ccEngine, ccEngine},
        {"play-check", 0, false, ccPlayCheck, ccPlayCheck},
        {"list-options", 0, false, ccListOptions, ccListOptions},
        {"help", 'h', false, ccHelp, ccHelp},
        {"version", 'V', false, ccVersion, ccVersion},
        // Converting.
        {"edition", 0, true, ccNone, ccConvert | ccListFormats},
        {"output-dir", 0, true, ccNone, ccConvert},
        {"settings", 0, true, ccNone, ccConvert},
        {"jobs", 0, true, ccNone, ccConvert},
        {"json", 0, false, ccNone, ccConvert},
        {"skip-existing", 0, false, ccNone, ccConvert},
        {"overwrite", 0, false, ccNone, ccConvert},
        {"no-rotate", 0, false, ccNone, ccConvert},
        {"no-deinterlace", 0, false, ccNone, ccConvert},
        {"no-tonemap", 0, false, ccNone, ccConvert},
        // The per-file edits (cli/EditOptions.h).
        {"trim", 0, true, ccNone, kEdits},
        {"crop", 0, true, ccNone, kEdits},
        {"zoom", 0, true, ccNone, kEdits},
        {"text", 0, true, ccNone, kEdits},
        {"text-at", 0, true, ccNone, kEdits},
        {"font", 0, true, ccNone, kEdits},
        {"image", 0, true, ccNone, kEdits},
        {"image-at", 0, true, ccNone, kEdits},
        {"image-opacity", 0, true, ccNone, kEdits},
        {"image-style", 0, true, ccNone, kEdits},
        {"brightness", 0, true, ccNone, kEdits},
        {"contrast", 0, true, ccNone, kEdits},
        {"saturation", 0, true, ccNone, kEdits},
        {"exposure", 0, true, ccNone, kEdits},
        // The engine's own task.
        {"input-option", 0, true, ccNone, ccEngine},
        {"join", 0, false, ccNone, ccEngine},
        {"", 'o', true, ccNone, ccEngine},
        // Playing.
        {"seconds", 0, true, ccNone, ccPlayCheck},
    };
    return options;
}

void PrintOptionList(std::FILE* to) {
    for (const auto& o : CliOptions()) {
        const char* value = o.TakesValue ? "=" : "";
        if (*o.Name) std::fprintf(to, "--%s%s\n", o.Name, value);
        if (o.Short) std::fprintf(to, "-%c%s\n", o.Short, value);
    }
}

std::vector<std::string> TCommandLine::Operands() const {
    std::vector<std::string> operands;
    for (const auto& a : Arguments)
        if (a.Option.empty()) operands.push_back(a.Value);
    return operands;
}

namespace {

std::string Spelling(const TCliOption& o) {
    return *o.Name ? std::string("--") + o.Name : std::string("-") + o.Short;
}

// The option as the user typed it, without a value after "=".
std::string Typed(const char* arg) {
    std::string text = arg ? arg : "";
    const size_t eq = text.find('=');
    return eq == std::string::npos ? text : text.substr(0, eq);
}

std::string NameOfCode(int code) {
    const auto& options = CliOptions();
    if (code >= kLongBase && size_t(code - kLongBase) < options.size()) return Spelling(options[size_t(code - kLongBase)]);
    for (const auto& o : options)
        if (o.Short == code) return Spelling(o);
    return std::string("-") + char(code);
}

// getopt_long takes an unambiguous abbreviation; one that fits several options gets a message
// naming them.
std::string UnknownLong(const std::string& typed) {
    std::string matches;
    int count = 0;
    for (const auto& o : CliOptions())
        if (*o.Name && typed.size() > 2 && std::string(o.Name).compare(0, typed.size() - 2, typed, 2) == 0) {
            matches += (count++ ? ", --" : "--") + std::string(o.Name);
        }
    if (count > 1) return "ambiguous option '" + typed + "' (" + matches + ")";
    return "unknown option '" + typed + "'";
}

// A file whose name begins with a dash reads as options; say how to name it.
std::string FileHint(const std::string& arg) {
    std::error_code ec;
    if (!std::filesystem::exists(arg, ec)) return "";
    return " (to name the file '" + arg + "', put -- before it)";
}

const char* CommandSpelling(TCliCommand c) {
    for (const auto& o : CliOptions())
        if (o.Selects == c) return *o.Name ? o.Name : "";
    return "";
}

}  // namespace

TCliParse ParseCommandLine(const std::vector<std::string>& args) {
    TCliParse result;
    const auto& options = CliOptions();

    std::vector<option> longOptions;
    std::string shortOptions = "-:";  // operands in order; ':' for a missing value
    for (size_t i = 0; i < options.size(); ++i) {
        const TCliOption& o = options[i];
        const int code = o.Short ? o.Short : kLongBase + int(i);
        if (*o.Name) longOptions.push_back({o.Name, o.TakesValue ? required_argument : no_argument, nullptr, code});
        if (o.Short) shortOptions += std::string(1, o.Short) + (o.TakesValue ? ":" : "");
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    // getopt_long wants writable strings; these live until it is done.
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    for (const auto& a : args) {
        storage.push_back(std::make_unique<char[]>(a.size() + 1));
        a.copy(storage.back().get(), a.size());
        storage.back()[a.size()] = '\0';
        argv.push_back(storage.back().get());
    }
    argv.push_back(nullptr);
    const int argc = int(args.size());

    auto& line = result.Line;
    optind = 0;  // starts getopt afresh, also for a second command line in one process
    opterr = 0;  // the messages are ours
    for (;;) {
        const int scanning = std::max(optind, 1);  // the argument getopt looks at next
        const int code = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr);
        if (code == -1) break;
        if (code == 1) {
            line.Arguments.push_back({"", optarg});
            continue;
        }
        if (code == ':') {
            result.Error = NameOfCode(optopt) + " needs a value";
            return result;
        }
        if (code == '?') {
            if (optopt >= kLongBase)
                result.Error = NameOfCode(optopt) + " takes no value";
            else if (optopt != 0)
                result.Error = std::string("unknown option '-") + char(optopt) + "'" + FileHint(args[size_t(scanning)]);
            else
                result.Error = UnknownLong(Typed(argv[size_t(optind - 1)]));
            return result;
        }
        const TCliOption* found = nullptr;
        for (size_t i = 0; i < options.size() && !found; ++i)
            if ((options[i].Short ? options[i].Short : kLongBase + int(i)) == code) found = &options[i];
        if (!found) {  // cannot happen: getopt returns only the codes it was given
            result.Error = "unknown option";
            return result;
        }
        line.Arguments.push_back({Spelling(*found), found->TakesValue && optarg ? optarg : ""});
    }
    for (int i = optind; i < argc; ++i) line.Arguments.push_back({"", args[size_t(i)]});

    // Help and version answer whatever else was asked; otherwise exactly one command.
    unsigned chosen = 0;
    for (const auto& a : line.Arguments)
        for (const auto& o : options)
            if (o.Selects != ccNone && !a.Option.empty() && Spelling(o) == a.Option) {
                if (o.Selects == ccHelp || o.Selects == ccVersion) {
                    chosen |= o.Selects;
                } else if (line.Command != ccNone && line.Command != o.Selects) {
                    result.Error = line.CommandOption + " and " + a.Option + " cannot be used together";
                    return result;
                } else {
                    line.Command = o.Selects;
                    line.CommandOption = a.Option;
                }
            }
    if (chosen & ccHelp) line.Command = ccHelp;
    else if (chosen & ccVersion) line.Command = ccVersion;
    if (line.Command == ccHelp || line.Command == ccVersion) return result;
    if (line.Command == ccNone) {
        const auto operands = line.Operands();
        result.Error = operands.empty() ? "" : "no command for '" + operands.front() + "' (--format CODE converts it)";
        return result;
    }
    for (const auto& a : line.Arguments) {
        if (a.Option.empty()) continue;
        for (const auto& o : options)
            if (Spelling(o) == a.Option && !(o.ReadBy & line.Command)) {
                result.Error = a.Option + " is not an option of --" + CommandSpelling(line.Command);
                return result;
            }
    }
    return result;
}
