// The conventions of a terminal program: options in any order and in both forms, "--" ending
// them, asked-for help on standard output, a usage error on standard error with status 2.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "cli/CommandLine.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string Cli() { return testsupport::BinDir() + "/reelshift-cli"; }

std::string Spelling(const TCliOption& o) { return *o.Name ? std::string("--") + o.Name : std::string("-") + o.Short; }

// The smallest command line of a command, around one file.
std::vector<std::string> CommandWords(unsigned command) {
    switch (command) {
    case ccConvert: return {"--format", "0"};
    case ccListFormats: return {"--list-formats"};
    case ccInfo: return {"--info"};
    case ccEngine: return {"--engine"};
    case ccPlayCheck: return {"--play-check"};
    default: return {};
    }
}

std::string UsageText() {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* to = open_memstream(&text, &size);
    PrintUsage(to);
    std::fclose(to);
    std::string usage(text, size);
    std::free(text);
    return usage;
}

}  // namespace

// Every option of the table, for each command that reads it: before the command's own words
// and after the file, as "--opt value" and "--opt=value" (a short one as "-o value" and
// "-ovalue"). The value begins with a dash, as a negative number does.
TEST(CommandLine, EveryOptionIsReadInBothFormsBeforeAndAfterTheFile) {
    for (const TCliOption& o : CliOptions()) {
        if (o.Selects == ccHelp || o.Selects == ccVersion) continue;
        for (unsigned command = 1; command < ccHelp; command <<= 1) {
            if (!(o.ReadBy & command)) continue;
            const std::string name = Spelling(o);
            std::vector<std::vector<std::string>> forms;
            if (!o.TakesValue) forms = {{name}};
            else if (*o.Name) forms = {{name, "-12"}, {name + "=-12"}};
            else forms = {{name, "-12"}, {name + "-12"}};
            for (const auto& form : forms)
                for (bool before : {true, false}) {
                    std::vector<std::string> argv = {"reelshift-cli"};
                    const std::vector<std::string> words = o.Selects == ccNone ? CommandWords(command) : std::vector<std::string>{};
                    if (before) argv.insert(argv.end(), form.begin(), form.end());
                    argv.insert(argv.end(), words.begin(), words.end());
                    argv.push_back("clip.mp4");
                    if (!before) argv.insert(argv.end(), form.begin(), form.end());
                    const TCliParse p = ParseCommandLine(argv);
                    const std::string shown = form.front() + (before ? " first" : " last");
                    ASSERT_EQ(p.Error, "") << shown;
                    EXPECT_EQ(p.Line.Command, command) << shown;
                    EXPECT_EQ(p.Line.Operands(), std::vector<std::string>{"clip.mp4"}) << shown;
                    bool seen = false;
                    for (const auto& a : p.Line.Arguments)
                        if (a.Option == name) seen = a.Value == (o.TakesValue ? "-12" : "");
                    EXPECT_TRUE(seen) << shown;
                }
        }
    }
}

TEST(CommandLine, HelpNamesEveryOption) {
    const std::string usage = UsageText();
    for (const TCliOption& o : CliOptions()) {
        const std::regex word("(^|[^-a-z])" + Spelling(o) + "([^-a-z]|$)");
        EXPECT_TRUE(std::regex_search(usage, word)) << Spelling(o) << " is missing from --help";
    }
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndMistakesAreNamed) {
    const TCliParse ended = ParseCommandLine({"reelshift-cli", "--format", "0", "--", "-x.mp4", "--json"});
    ASSERT_EQ(ended.Error, "");
    EXPECT_EQ(ended.Line.Operands(), (std::vector<std::string>{"-x.mp4", "--json"}));

    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--format", "0", "-x.mp4"}, "unknown option '-x'"},
        {{"--fo", "0", "a.mp4"}, "ambiguous option '--fo' (--format, --font)"},
        {{"a.mp4", "--format"}, "--format needs a value"},
        {{"--json=yes", "--format", "0", "a.mp4"}, "--json takes no value"},
        {{"--info", "--format", "0", "a.mp4"}, "--info and --format cannot be used together"},
        {{"--info", "--seconds", "2", "a.mp4"}, "--seconds is not an option of --info"},
        {{"--list-formats", "-o", "x.avi"}, "-o is not an option of --list-formats"},
        {{"a.mp4"}, "no command for 'a.mp4'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"reelshift-cli"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(ParseCommandLine(argv).Error.find(c.error), 0u) << ParseCommandLine(argv).Error;
    }
    // A file whose name begins with a dash is refused with the way to name it.
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("-x.mp4"), "");
    const fs::path was = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(ParseCommandLine({"reelshift-cli", "--format", "0", "-x.mp4"}).Error,
              "unknown option '-x' (to name the file '-x.mp4', put -- before it)");
    fs::current_path(was);

    // Help and version answer whatever else the line asks; help first.
    EXPECT_EQ(ParseCommandLine({"reelshift-cli", "--format", "0", "a.mp4", "-h"}).Line.Command, ccHelp);
    EXPECT_EQ(ParseCommandLine({"reelshift-cli", "-V", "--info"}).Line.Command, ccVersion);
    EXPECT_EQ(ParseCommandLine({"reelshift-cli", "--version", "--help"}).Line.Command, ccHelp);
}

TEST(Usage, HelpAndVersionGoToStandardOutputAndSucceed) {
    for (const char* flag : {"--help", "-h"}) {
        const auto r = testsupport::Run({Cli(), flag});
        EXPECT_EQ(r.exitCode, 0) << flag;
        EXPECT_EQ(r.out, UsageText());
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    for (const char* flag : {"--version", "-V"}) {
        const auto r = testsupport::Run({Cli(), flag});
        EXPECT_EQ(r.exitCode, 0) << flag;
        EXPECT_TRUE(std::regex_match(r.out, std::regex("reelshift-cli [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
    }
}

TEST(Usage, AnUnknownOptionOrNoneAtAllPrintsTheUsageOnStandardErrorWithStatusTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{}}) {
        std::vector<std::string> argv = {Cli()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = testsupport::Run(argv);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("usage: reelshift-cli"), std::string::npos) << r.err;
    }
    const auto r = testsupport::Run({Cli(), "--frobnicate"});
    EXPECT_NE(r.err.find("unknown option '--frobnicate'"), std::string::npos) << r.err;
}

// The lines a new user types: options before the format, the "=" form, and a file whose name
// begins with a dash after "--".
TEST(Usage, OptionsBeforeTheFormatAndAFileAfterTheDoubleDashConvert) {
    testsupport::TempDir dir;
    testsupport::MakeClip(dir.file("-x.mp4"), 1, {"-s", "160x120", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    const fs::path was = fs::current_path();
    fs::current_path(dir.path());
    const auto r = testsupport::Run({Cli(), "--output-dir", dir.file("out"), "--settings=" + dir.file("s.ini"),
                                     "--format=0", "--", "-x.mp4"});
    fs::current_path(was);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = dir.file("out") + "/-x_(new).avi";
    EXPECT_EQ(testsupport::ProbeValue(out, "stream=codec_type", "v:0"), "video");

    // The edition is read wherever it stands: 2603 exists in the video edition only, so the
    // line gets as far as the missing file.
    const auto video = testsupport::Run({Cli(), "--edition", "video", "--format", "2603", "--settings",
                                         dir.file("s.ini"), dir.file("missing.mp4")});
    EXPECT_EQ(video.exitCode, 1) << video.err;
    EXPECT_NE(video.err.find("missing.mp4"), std::string::npos) << video.err;
}

// The pages as man shows them: they render without a warning, and the terminal program's page
// explains every option its --help names.
TEST(ManualPage, RendersAndNamesEveryOptionTheHelpLists) {
    auto render = [](const std::string& page) {
        return testsupport::Run({"env", "MANWIDTH=100", "LC_ALL=C.UTF-8", "man", "--warnings", "-l",
                                 std::string(REELSHIFT_MAN_DIR) + "/" + page});
    };
    for (const char* page : {"reelshift.1", "reelshift-cli.1"}) {
        const auto r = render(page);
        EXPECT_EQ(r.exitCode, 0) << page << r.err;
        EXPECT_EQ(r.err, "") << page;
        EXPECT_NE(r.out.find("EXIT STATUS"), std::string::npos) << page;
        EXPECT_NE(r.out.find("ENVIRONMENT"), std::string::npos) << page;
    }
    const std::string shown = render("reelshift-cli.1").out;
    const std::string help = testsupport::Run({Cli(), "--help"}).out;
    const std::regex option("(^|[\\s\\[|(])(--?[A-Za-z][A-Za-z-]*)");
    int options = 0;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        ++options;
        EXPECT_TRUE(std::regex_search(shown, std::regex("(^|[^-A-Za-z])" + name + "([^-A-Za-z]|$)")))
            << name << " is not in reelshift-cli(1)";
    }
    EXPECT_GT(options, 25);
}

// What Tab offers, through bash-completion as an interactive shell loads it, with the built
// program first on the path.
TEST(Completion, OffersTheProgramsOwnOptionsFormatsAndFiles) {
    const std::string script = R"(
        source /usr/share/bash-completion/bash_completion || exit 3
        source "$1" || exit 3
        PATH=$2:$PATH
        shift 2
        for line in "$@"; do
            # Words as the shell hands them over: split at blanks that are not escaped,
            # quoting kept.
            COMP_LINE=$line COMP_POINT=${#line}
            read -ra COMP_WORDS <<<"${line//\\ /$'\1'}"
            COMP_WORDS=("${COMP_WORDS[@]//$'\1'/\\ }")
            [[ $line == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMPREPLY=()
            _reelshift_cli reelshift-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
            ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' '|'
            echo
        done)";
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("clip one.mp4"), "");
    fs::create_directory(dir.file("clips"));
    const std::vector<std::string> lines = {
        "reelshift-cli --list-o",
        "reelshift-cli --edition video --format 260",
        "reelshift-cli --edition=video --format=iPod\\ Video\\ H",
        "reelshift-cli --zoom ",
        "reelshift-cli --text ",
        "reelshift-cli --format 0 " + dir.file("clip"),
        "reelshift-cli --output-dir " + dir.file("clip"),
        "reelshift-cli --format 0 -- -",
    };
    std::vector<std::string> argv = {"bash", "-c", script, "completion",
                                      testsupport::SourceDir() + "/data/completion/reelshift-cli.bash",
                                      testsupport::BinDir()};
    argv.insert(argv.end(), lines.begin(), lines.end());
    const auto r = testsupport::Run(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> offered;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) offered.push_back(line);
    ASSERT_EQ(offered.size(), lines.size()) << r.out << r.err;
    EXPECT_EQ(offered[0], "--list-options|");
    EXPECT_EQ(offered[1], "2600|2601|2602|2603|2604|2605|2606|2607|2608|2609|");
    EXPECT_EQ(offered[2], "iPod\\ Video\\ H.264|");
    EXPECT_EQ(offered[3], "center|full|lbox|pan|");
    EXPECT_EQ(offered[4], "");
    EXPECT_EQ(offered[5], dir.file("clip one.mp4") + "|" + dir.file("clips") + "|");
    EXPECT_EQ(offered[6], dir.file("clips") + "|");
    EXPECT_EQ(offered[7], "");  // no file begins with a dash there; options are not offered
}

// The same through zsh's completion system, typed into an interactive zsh on a terminal (a dumb
// one, so that what it shows is plain text).
TEST(Completion, ZshOffersTheProgramsOwnOptionsAndFormats) {
    const std::string script = R"(
        zmodload zsh/zpty || exit 3
        zpty z 'TERM=dumb zsh -f -i'
        zpty -w z "PS1='%% '; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D; PATH=$2:\$PATH; LISTMAX=10000"
        shift 2
        while (( $# >= 2 )); do
            zpty -w -n z "$1"$'\t'
            # Waits until the expected text shows (the test's time limit ends a wait that fails).
            zpty -r z out "*${(b)2}*" && print -r -- "offered: $1"
            zpty -w z $'\x03'
            shift 2
        done
        zpty -d z)";
    const std::vector<std::string> lines = {
        "reelshift-cli --for", "--format=",
        "reelshift-cli --edition video --format 260", "2603  -- H.264/MPEG-4 AVC Video",
        "reelshift-cli --zoom ", "center  full    lbox    pan",
        "reelshift-cli --edition=video --format=iPod\\ Video\\ H", "iPod\\ Video\\ H.264",
    };
    std::vector<std::string> argv = {"timeout", "30", "zsh", "-f", "-c", script, "completion",
                                      testsupport::SourceDir() + "/data/completion", testsupport::BinDir()};
    argv.insert(argv.end(), lines.begin(), lines.end());
    const auto r = testsupport::Run(argv);
    for (size_t i = 0; i < lines.size(); i += 2)
        EXPECT_NE(r.out.find("offered: " + lines[i] + "\n"), std::string::npos) << lines[i] << "\n" << r.out << r.err;
}
