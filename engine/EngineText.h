#pragma once
// Texts the engine builds from library values.
#include <string>

#include "engine/LibAVApi.h"

// name, ": " and the message of a library error code.
std::string EngineErrorText(const std::string& name, int code);
// The message of a library error code alone.
std::string EngineErrorMessage(int code);
// Short name of a codec context's codec ("mpeg4", "libx264"), or of its id.
std::string EngineCodecName(const AVCodecContext* ctx);
std::string EngineCodecName(AVCodecID id);
