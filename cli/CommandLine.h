#pragma once
// reelshift-cli's command line. Every option is one row of a table that getopt_long reads, so
// options come in any order, as "--opt value" or "--opt=value", and "--" ends them (a file
// may then begin with a dash). One option chooses the command (--format, --info, ...); each
// other option names the commands that read it, and is refused by the rest.
//
// To add an option: add a row to the table in CommandLine.cpp, name it in Usage.cpp (a test
// checks that --help lists every row) and read it in the command's loop over Arguments.
#include <cstdio>
#include <string>
#include <vector>

enum TCliCommand : unsigned {
    ccNone = 0,
    ccConvert = 1u << 0,      // --format CODE FILE...
    ccListFormats = 1u << 1,  // --list-formats
    ccInfo = 1u << 2,         // --info FILE...
    ccEngine = 1u << 3,       // --engine INPUT... -o OUTPUT [KEY=VALUE]...
    ccPlayCheck = 1u << 4,    // --play-check FILE
    ccListOptions = 1u << 5,  // --list-options
    ccHelp = 1u << 6,
    ccVersion = 1u << 7,
};

struct TCliOption {
    const char* Name;     // the long name without "--"; empty for an option with a short name only
    char Short;           // its one-letter name, 0 when it has none
    bool TakesValue;
    TCliCommand Selects;  // the command this option chooses; ccNone for an ordinary option
    unsigned ReadBy;      // the commands that read it (TCliCommand bits)
};

const std::vector<TCliOption>& CliOptions();

// One argument as given: an option under its canonical spelling ("--format", "--help" for
// "-h", "-o") with its value, or an operand (a file, a KEY=VALUE) with Option empty.
struct TCliArgument {
    std::string Option;
    std::string Value;
};

struct TCommandLine {
    TCliCommand Command = ccNone;
    std::string CommandOption;           // how the command was chosen, e.g. "--format"
    std::vector<TCliArgument> Arguments;  // options and operands in the order given
    std::vector<std::string> Operands() const;
};

struct TCliParse {
    TCommandLine Line;
    std::string Error;  // why the command line cannot be used; empty when it can
};

// argv[0] is the program's name.
TCliParse ParseCommandLine(const std::vector<std::string>& argv);

// Every spelling of every option, one a line, with "=" after one that takes a value: what shell
// completion offers.
void PrintOptionList(std::FILE* to);

// The usage of every command: on standard output when asked for, on standard error after a
// command line that cannot be used.
void PrintUsage(std::FILE* to);
