#pragma once
// One function per command of reelshift-cli; each returns the exit status.
#include <cstdio>
#include <string>
#include <vector>

using Args = std::vector<std::string>;  // the arguments after the command word

int ListFormatsCommand(const Args& args);  // --list-formats [--edition mp4avi|video]
int InfoCommand(const Args& args);         // --info FILE...
int EngineCommand(const Args& args);       // --engine [--input-option K=V]... INPUT -o OUTPUT [K=V]...
int ConvertCommand(const Args& args);      // --format CODE [...] FILE...
int PlayCheckCommand(const Args& args);   // --play-check FILE [--seconds N]

// The usage of every command: on standard output when asked for, on standard error after a
// command line that cannot be used.
void PrintUsage(std::FILE* to);
