#pragma once
// Option names of the older library generation that presets, format files and option
// lines still use, translated to what today's libraries call them.
#include <optional>
#include <string>
#include <vector>

struct TOptionStep {
    enum TKind {
        okGeneric,        // set through the generic store under Name
        okCodecPrivate,   // an encoder-private option (video unless the legacy name was audio)
        okFormatPrivate,  // a muxer-private option
        okSkip            // no longer exists anywhere: log and go on
    };
    TKind Kind;
    std::string Name;
    std::string Value;
};

// The translation of a legacy option; std::nullopt when name needs none (it is either a
// current name or unknown). Steps are applied in order.
std::optional<std::vector<TOptionStep>> TranslateLegacyOption(const std::string& name, const std::string& value);

// True when the legacy codec-private option belongs to audio encoders (for example the
// FLAC and LAME settings); otherwise it belongs to video encoders.
bool IsAudioPrivateOption(const std::string& name);

// Today's name of an encoder named the way the format files of the older generation name
// it (CurrentEncoderName's table); other names, and encoders this build lacks, unchanged.
std::string MapEncoderName(const std::string& name);
