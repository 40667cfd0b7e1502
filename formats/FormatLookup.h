#pragma once
// Finding formats of an edition by what a person types: a format code, a format's name or the
// extension of the files it makes.
#include <string>
#include <vector>

#include "formats/Edition.h"

class IniFile;

// The codes the text names, in catalogue order: the code itself when the text is one of the
// edition's codes; else every format whose name, with or without the file pattern after it,
// equals the text, ignoring case and blanks around it; else every format whose definition's "FileExt" equals the text (a leading dot
// is allowed). Empty when nothing matches.
std::vector<int> FindFormats(TEdition edition, const IniFile& definitions, const std::string& text);
