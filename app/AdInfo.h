#pragma once
// The promotional messages the progress window shows, one at a time, with their web addresses.
// The update check replaces the built-in list with the feed's (or its cached copy's).
#include <string>
#include <vector>

struct TAdInfo {
    std::string Message;
    std::string Address;  // opened only when it is a web address
};

// The seven messages used when neither the feed nor its cache can be read.
std::vector<TAdInfo> BuiltInAdInfos();
