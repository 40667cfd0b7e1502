#pragma once
// Opening web pages and folders in the user's own programs. Only http/https addresses and
// existing local folders are opened, always as a URL handed to the desktop — never as a
// command line, so nothing a settings file or a feed holds can run a program.
#include <QUrl>

#include <functional>
#include <string>

namespace shell {

// True when text is an absolute http or https address with a host.
bool IsWebAddress(const std::string& text);

// Opens a web address; false (and nothing opened) for anything else.
bool OpenWebAddress(const std::string& address);
// Opens an existing local folder in the file manager; false when it is not a folder.
bool OpenFolder(const std::string& path);

// Replaces the desktop opener (tests use this so that nothing is launched); an empty
// function restores QDesktopServices.
using TUrlOpener = std::function<bool(const QUrl&)>;
void SetUrlOpener(TUrlOpener opener);

}  // namespace shell
