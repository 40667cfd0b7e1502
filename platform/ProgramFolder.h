#pragma once
// Where the running program's executable lives; data files ship beside it.
#include <string>

// The folder of the running executable, without a trailing separator; the current
// folder when the executable's path cannot be read.
std::string ProgramFolder();
