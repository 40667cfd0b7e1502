#pragma once
// Errors raised by the engine carry the program's own texts; the component turns them
// into LastError or into the terminate record, and windows show them with a warning icon.
#include <stdexcept>
#include <string>

class FFmpegException : public std::runtime_error {
public:
    explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

// The output was left alone: it exists already, or another program is converting it. Not a
// failure of the source; the task ends without converting.
class TOutputSkipped : public FFmpegException {
public:
    using FFmpegException::FFmpegException;
};
