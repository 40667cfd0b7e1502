#pragma once
// Text helpers with the rules the settings and option texts use: blanks are spaces, tabs and
// line breaks; case folding is plain ASCII (keys and option names are ASCII).
#include <string>

std::string Trim(const std::string& s);
std::string Lower(std::string s);
bool SameText(const std::string& a, const std::string& b);
