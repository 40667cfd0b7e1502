#include "engine/EngineSettings.h"

#include <algorithm>

void TEngineSettings::ConsumeInput() {
    ForcedFormat.clear();
    if (ProgramId >= 0) ProgramId = -1;
    StartTime = 0;
    VideoChannel = 0;
    VideoStandard.clear();
    ForgetCodecNames();
}

void TEngineSettings::ForgetCodecNames() {
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
}

void TEngineSettings::ConsumeStreamChoice() { VideoDisable = AudioDisable = SubtitleDisable = false; }

void TEngineSettings::ConsumeOutput() {
    StreamIdMap.fill(0);
    StreamIdMapSize = 0;
}

namespace {
bool ValidType(AVMediaType type) { return type >= AVMEDIA_TYPE_VIDEO && type < GENERIC_CODEC_TYPES; }

void AddUnique(std::vector<std::string>& list, const std::string& name) {
    if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}
}  // namespace

bool CopyOptionValue(void* source, void* target, const std::string& name, int flags) {
    const AVOption* from = avutil().av_opt_find(source, name.c_str(), nullptr, 0, 0);
    const AVOption* to = avutil().av_opt_find(target, name.c_str(), nullptr, flags, 0);
    if (!from || !to || from->type != to->type) return false;
    const char* n = name.c_str();
    switch (from->type) {
        case AV_OPT_TYPE_FLAGS:
        case AV_OPT_TYPE_INT:
        case AV_OPT_TYPE_INT64:
        case AV_OPT_TYPE_UINT64:
        case AV_OPT_TYPE_BOOL:
        case AV_OPT_TYPE_CONST:
        case AV_OPT_TYPE_PIXEL_FMT:
        case AV_OPT_TYPE_SAMPLE_FMT:
        case AV_OPT_TYPE_DURATION: {
            int64_t v = 0;
            if (avutil().av_opt_get_int(source, n, 0, &v) < 0) return false;
            return avutil().av_opt_set_int(target, n, v, 0) >= 0;
        }
        case AV_OPT_TYPE_DOUBLE:
        case AV_OPT_TYPE_FLOAT: {
            double v = 0;
            if (avutil().av_opt_get_double(source, n, 0, &v) < 0) return false;
            return avutil().av_opt_set_double(target, n, v, 0) >= 0;
        }
        case AV_OPT_TYPE_RATIONAL:
        case AV_OPT_TYPE_VIDEO_RATE: {
            AVRational q{0, 1};
            if (avutil().av_opt_get_q(source, n, 0, &q) < 0) return false;
            return avutil().av_opt_set_q(target, n, q, 0) >= 0;
        }
        default: {
            uint8_t* text = nullptr;
            if (avutil().av_opt_get(source, n, 0, &text) < 0 || !text) return false;
            int r = avutil().av_opt_set(target, n, reinterpret_cast<const char*>(text), 0);
            avutil().av_free(text);
            return r >= 0;
        }
    }
}

void TGenericOptions::Clear() {
    for (auto& c : FCodec) c.reset();
    FFormat.reset();
    FScaler.reset();
    FNames.clear();
    for (auto& l : FCodecSet) l.clear();
    FFormatSet.clear();
    FScalerSet.clear();
    for (auto& d : FPrivate) d.reset();
    FFormatPrivate.reset();
}

void TGenericOptions::Reset() {
    Clear();
    // Without the libraries bound there is nothing to make; the store then stays empty.
    if (!avcodec().avcodec_alloc_context3 || !avformat().avformat_alloc_context || !swscale().sws_alloc_context) return;
    for (int t = 0; t < GENERIC_CODEC_TYPES; ++t) {
        FCodec[t].reset(avcodec().avcodec_alloc_context3(nullptr));
        if (FCodec[t]) FCodec[t]->codec_type = AVMediaType(t);
    }
    FFormat.reset(avformat().avformat_alloc_context());
    FScaler.reset(swscale().sws_alloc_context());
}

const AVCodecContext* TGenericOptions::Template(AVMediaType type) const {
    return ValidType(type) ? FCodec[type].get() : nullptr;
}

AVCodecContext* TGenericOptions::MutableTemplate(AVMediaType type) {
    return ValidType(type) ? FCodec[type].get() : nullptr;
}

void TGenericOptions::AddSetName(const std::string& name) { FNames.push_back(name); }

void TGenericOptions::MarkCodecOption(AVMediaType type, const std::string& option) {
    if (ValidType(type)) AddUnique(FCodecSet[type], option);
}

void TGenericOptions::MarkFormatOption(const std::string& option) { AddUnique(FFormatSet, option); }

void TGenericOptions::MarkScalerOption(const std::string& option) { AddUnique(FScalerSet, option); }

void TGenericOptions::SetPrivateOption(AVMediaType type, const std::string& name, const std::string& value) {
    if (!ValidType(type)) return;
    AVDictionary* d = FPrivate[type].release();
    avutil().av_dict_set(&d, name.c_str(), value.c_str(), 0);
    FPrivate[type].reset(d);
}

void TGenericOptions::RemovePrivateOption(AVMediaType type, const std::string& name) {
    if (!ValidType(type)) return;
    AVDictionary* d = FPrivate[type].release();
    avutil().av_dict_set(&d, name.c_str(), nullptr, 0);
    FPrivate[type].reset(d);
}

std::string TGenericOptions::PrivateOption(AVMediaType type, const std::string& name) const {
    if (!ValidType(type) || !FPrivate[type]) return {};
    AVDictionaryEntry* e = avutil().av_dict_get(FPrivate[type].get(), name.c_str(), nullptr, AV_DICT_MATCH_CASE);
    return e ? std::string(e->value) : std::string();
}

const AVDictionary* TGenericOptions::PrivateOptions(AVMediaType type) const {
    return ValidType(type) ? FPrivate[type].get() : nullptr;
}

AVDictionary* TGenericOptions::CodecPrivateOptions(AVMediaType type) const {
    AVDictionary* copy = nullptr;
    if (ValidType(type) && FPrivate[type]) avutil().av_dict_copy(&copy, FPrivate[type].get(), 0);
    return copy;
}

void TGenericOptions::ApplyToCodecContext(AVMediaType type, AVCodecContext* target, int flags) const {
    if (!ValidType(type) || !FCodec[type] || !target) return;
    for (const auto& name : FCodecSet[type]) CopyOptionValue(FCodec[type].get(), target, name, flags);
}

void TGenericOptions::ApplyToFormatContext(AVFormatContext* target, int flags) const {
    if (!FFormat || !target) return;
    for (const auto& name : FFormatSet) CopyOptionValue(FFormat.get(), target, name, flags);
}

void TGenericOptions::ApplyToScaler(SwsContext* target) const {
    if (!FScaler || !target) return;
    for (const auto& name : FScalerSet) CopyOptionValue(FScaler.get(), target, name, 0);
}

int64_t TGenericOptions::ScalerFlags() const {
    int64_t flags = SWS_BICUBIC;
    if (FScaler) avutil().av_opt_get_int(FScaler.get(), "sws_flags", 0, &flags);
    return flags;
}

void TGenericOptions::SetFormatPrivateOption(const std::string& name, const std::string& value) {
    AVDictionary* d = FFormatPrivate.release();
    avutil().av_dict_set(&d, name.c_str(), value.c_str(), 0);
    FFormatPrivate.reset(d);
}

std::string TGenericOptions::FormatPrivateOption(const std::string& name) const {
    if (!FFormatPrivate) return {};
    AVDictionaryEntry* e = avutil().av_dict_get(FFormatPrivate.get(), name.c_str(), nullptr, AV_DICT_MATCH_CASE);
    return e ? std::string(e->value) : std::string();
}

AVDictionary* TGenericOptions::FormatPrivateOptions() const {
    AVDictionary* copy = nullptr;
    if (FFormatPrivate) avutil().av_dict_copy(&copy, FFormatPrivate.get(), 0);
    return copy;
}
