#pragma once
// One function per command of reelshift-cli; each reads the arguments of its command line
// (cli/CommandLine.h) and returns the exit status.
#include "cli/CommandLine.h"

int ListFormatsCommand(const TCommandLine& line);  // --list-formats [--edition mp4avi|video]
int InfoCommand(const TCommandLine& line);         // --info FILE...
int EngineCommand(const TCommandLine& line);       // --engine [--input-option K=V]... INPUT -o OUTPUT [K=V]...
int ConvertCommand(const TCommandLine& line);      // --format CODE [...] FILE...
int PlayCheckCommand(const TCommandLine& line);    // --play-check FILE [--seconds N]
