#pragma once
// The option table: every name the option handler knows, the kind of value it takes, and
// the settings field it writes (a member of the record it belongs to) or the handler it
// calls. Names not in the table go to the generic option store.
#include <string>
#include <variant>
#include <vector>

#include "engine/EngineSettings.h"

class TOptionParser;

enum class TOptionKind {
    Int,       // a decimal integer
    Int64,     // a decimal integer of 64 bits
    Real,      // a decimal number, kept as float
    Bool,      // true for any value but "0"
    NonZero,   // a decimal integer; true unless 0
    Flag,      // true, whatever the value
    Duration,  // a time ("1.5", "00:01:02.5"), kept in microseconds
    Text,      // the value as given
    Handler,   // a member function of the parser takes name and value
    Nothing,   // accepted and logged as doing nothing
    Warning,   // accepted; Message is logged as a warning
    Rejected   // refused with Message
};

// The settings record an option writes; None for those that write nothing or several.
enum class TOptionRecord { None, Input, OutputStream, Run };

using TOptionHandler = void (TOptionParser::*)(const std::string& name, const std::string& value);

struct TOptionEntry {
    const char* Name;
    TOptionKind Kind;
    TOptionRecord Record;
    std::variant<std::monostate, int TEngineSettings::*, int64_t TEngineSettings::*, float TEngineSettings::*,
                 bool TEngineSettings::*, std::string TEngineSettings::*, TOptionHandler>
        Target;
    const char* Message = nullptr;  // Warning, Rejected
};
