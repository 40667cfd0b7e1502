#include "engine/OptionNames.h"

#include <cctype>
#include <cstring>
#include <map>

#include "engine/LibAVApi.h"
#include "engine/TaskOptions.h"

namespace {
using K = TOptionStep::TKind;

struct TRename {
    const char* NewName;
    K Kind;
};

// Options that moved from the common codec settings into the encoders that use them, or
// were renamed there; the value is passed on unchanged.
const std::map<std::string, TRename>& Renames() {
    static const std::map<std::string, TRename> table = {
        // x264 and the encoders of the MPEG family
        {"coder", {"coder", K::okCodecPrivate}},
        {"sc_threshold", {"sc_threshold", K::okCodecPrivate}},
        {"b_strategy", {"b_strategy", K::okCodecPrivate}},
        {"directpred", {"direct-pred", K::okCodecPrivate}},
        {"wpredp", {"weightp", K::okCodecPrivate}},
        {"cqp", {"qp", K::okCodecPrivate}},
        {"crf", {"crf", K::okCodecPrivate}},
        {"crf_max", {"crf_max", K::okCodecPrivate}},
        {"rc_lookahead", {"rc-lookahead", K::okCodecPrivate}},
        {"aq_mode", {"aq-mode", K::okCodecPrivate}},
        {"aq_strength", {"aq-strength", K::okCodecPrivate}},
        {"chromaoffset", {"chromaoffset", K::okCodecPrivate}},
        {"nr", {"noise_reduction", K::okCodecPrivate}},
        {"bframebias", {"b-bias", K::okCodecPrivate}},
        {"complexityblur", {"cplxblur", K::okCodecPrivate}},
        {"rc_eq", {"rc_eq", K::okCodecPrivate}},
        {"lmin", {"lmin", K::okCodecPrivate}},
        {"lmax", {"lmax", K::okCodecPrivate}},
        {"mpeg_quant", {"mpeg_quant", K::okCodecPrivate}},
        {"qsquish", {"rc_qsquish", K::okCodecPrivate}},
        {"rc_init_cplx", {"rc_init_cplx", K::okCodecPrivate}},
        {"border_mask", {"border_mask", K::okCodecPrivate}},
        {"ps", {"ps", K::okCodecPrivate}},
        {"context", {"context", K::okCodecPrivate}},
        {"skip_threshold", {"skip_threshold", K::okCodecPrivate}},
        {"skip_factor", {"skip_factor", K::okCodecPrivate}},
        {"skip_exp", {"skip_exp", K::okCodecPrivate}},
        {"skip_cmp", {"skip_cmp", K::okCodecPrivate}},
        {"me_penalty_compensation", {"mepc", K::okCodecPrivate}},
        {"brd_scale", {"brd_scale", K::okCodecPrivate}},
        {"b_sensitivity", {"b_sensitivity", K::okCodecPrivate}},
        {"timecode_frame_start", {"timecode_frame_start", K::okCodecPrivate}},
        {"ibias", {"ibias", K::okCodecPrivate}},
        {"pbias", {"pbias", K::okCodecPrivate}},
        {"quantizer_noise_shaping", {"quantizer_noise_shaping", K::okCodecPrivate}},
        {"qns", {"quantizer_noise_shaping", K::okCodecPrivate}},
        {"error", {"error_rate", K::okCodecPrivate}},
        {"pred", {"pred", K::okCodecPrivate}},
        {"lelim", {"luma_elim_threshold", K::okCodecPrivate}},
        {"celim", {"chroma_elim_threshold", K::okCodecPrivate}},
        {"skipcmp", {"skip_cmp", K::okCodecPrivate}},
        // audio encoders (FLAC, LAME)
        {"lpc_coeff_precision", {"lpc_coeff_precision", K::okCodecPrivate}},
        {"min_prediction_order", {"min_prediction_order", K::okCodecPrivate}},
        {"max_prediction_order", {"max_prediction_order", K::okCodecPrivate}},
        {"prediction_order_method", {"prediction_order_method", K::okCodecPrivate}},
        {"min_partition_order", {"min_partition_order", K::okCodecPrivate}},
        {"max_partition_order", {"max_partition_order", K::okCodecPrivate}},
        {"lpc_type", {"lpc_type", K::okCodecPrivate}},
        {"lpc_passes", {"lpc_passes", K::okCodecPrivate}},
        {"reservoir", {"reservoir", K::okCodecPrivate}},
        {"joint_stereo", {"joint_stereo", K::okCodecPrivate}},
        // muxers
        {"muxrate", {"muxrate", K::okFormatPrivate}},
    };
    return table;
}

// Options the libraries dropped without a successor.
bool IsRemoved(const std::string& name) {
    static const char* const removed[] = {"rc_buf_aggressivity", "rc_qmod_amp", "rc_qmod_freq", "rc_strategy",
                                          "mb_qmin", "mb_qmax", "inter_threshold", "antialias",
                                          "dtg_active_format", "color_table_id", "use_lpc", "sc_factor",
                                          "hurry_up", "real_frame_number", "mv_bits", "header_bits",
                                          "i_tex_bits", "p_tex_bits", "i_count", "p_count", "skip_count",
                                          "misc_bits", "frame_bits", "vismv", "preme", "xvmc_acceleration",
                                          "stream_codec_tag", "mb_threshold", "er", "request_channels"};
    for (const char* r : removed)
        if (name == r) return true;
    return false;
}

const std::map<std::string, std::string>& AudioPrivateNames() {
    static const std::map<std::string, std::string> names = {
        {"lpc_coeff_precision", ""}, {"min_prediction_order", ""}, {"max_prediction_order", ""},
        {"prediction_order_method", ""}, {"min_partition_order", ""}, {"max_partition_order", ""},
        {"lpc_type", ""}, {"lpc_passes", ""}, {"reservoir", ""}, {"joint_stereo", ""}, {"bit_reservoir", ""}};
    return names;
}

// A flag word split into its signed tokens: "+a-b" -> {'+',"a"},{'-',"b"}; "a+b" -> {0,"a"},{'+',"b"}.
std::vector<std::pair<char, std::string>> SplitFlags(const std::string& value) {
    std::vector<std::pair<char, std::string>> tokens;
    size_t i = 0;
    while (i < value.size()) {
        char sign = 0;
        if (value[i] == '+' || value[i] == '-') sign = value[i++];
        size_t end = value.find_first_of("+-", i);
        if (end == std::string::npos) end = value.size();
        if (end > i) tokens.emplace_back(sign, value.substr(i, end - i));
        i = end;
    }
    return tokens;
}

// A token that today's common codec settings still know under the given flag unit.
bool IsCurrentFlag(const std::string& token, const char* unit) {
    if (!avcodec().avcodec_get_class) return false;
    const AVClass* cls = avcodec().avcodec_get_class();
    const AVOption* o = avutil().av_opt_find(&cls, token.c_str(), unit, 0, AV_OPT_SEARCH_FAKE_OBJ);
    return o && o->type == AV_OPT_TYPE_CONST;
}

struct TFlagMove {
    const char* Token;
    K Kind;
    const char* Name;  // option it becomes
    // Value when the token is turned on / off. For "mpv_flags" the value is itself a flag
    // token and the sign is carried over.
    const char* On;
    const char* Off;
};

const TFlagMove kFlagMoves[] = {
    // flags
    {"closedgop", K::okGeneric, "flags", "+cgop", "-cgop"},
    {"trell", K::okGeneric, "trellis", "1", "0"},
    {"mv0", K::okCodecPrivate, "mpv_flags", "+mv0", "-mv0"},
    {"cbp", K::okCodecPrivate, "mpv_flags", "+cbp_rd", "-cbp_rd"},
    {"qprd", K::okCodecPrivate, "mpv_flags", "+qp_rd", "-qp_rd"},
    {"naq", K::okCodecPrivate, "mpv_flags", "+naq", "-naq"},
    {"obmc", K::okCodecPrivate, "obmc", "1", "0"},
    {"umv", K::okCodecPrivate, "umv", "1", "0"},
    {"aiv", K::okCodecPrivate, "aiv", "1", "0"},
    {"ss", K::okCodecPrivate, "structured_slices", "1", "0"},
    {"alt", K::okCodecPrivate, "alternate_scan", "1", "0"},
    {"scan_offset", K::okCodecPrivate, "scan_offset", "1", "0"},
    {"part", K::okCodecPrivate, "data_partitioning", "1", "0"},
    {"gmc", K::okCodecPrivate, "gmc", "1", "0"},
    {"4mv", K::okGeneric, "flags", "+mv4", "-mv4"},
    // flags2
    {"wpred", K::okCodecPrivate, "weightb", "1", "0"},
    {"dct8x8", K::okCodecPrivate, "8x8dct", "1", "0"},
    {"bpyramid", K::okCodecPrivate, "b-pyramid", "normal", "none"},
    {"mixed_refs", K::okCodecPrivate, "mixed-refs", "1", "0"},
    {"fastpskip", K::okCodecPrivate, "fast-pskip", "1", "0"},
    {"mbtree", K::okCodecPrivate, "mbtree", "1", "0"},
    {"aud", K::okCodecPrivate, "aud", "1", "0"},
    {"psy", K::okCodecPrivate, "psy", "1", "0"},
    {"ssim", K::okCodecPrivate, "ssim", "1", "0"},
    {"intra_refresh", K::okCodecPrivate, "intra-refresh", "1", "0"},
    {"skiprd", K::okCodecPrivate, "mpv_flags", "+skip_rd", "-skip_rd"},
    {"strict_gop", K::okCodecPrivate, "mpv_flags", "+strict_gop", "-strict_gop"},
    {"sgop", K::okCodecPrivate, "mpv_flags", "+strict_gop", "-strict_gop"},
    {"non_linear_q", K::okCodecPrivate, "non_linear_quant", "1", "0"},
    {"drop_frame_timecode", K::okCodecPrivate, "drop_frame_timecode", "1", "0"},
    {"bit_reservoir", K::okCodecPrivate, "reservoir", "1", "0"},
    {"reservoir", K::okCodecPrivate, "reservoir", "1", "0"},
};

std::vector<TOptionStep> TranslateFlags(const std::string& name, const std::string& value) {
    std::vector<TOptionStep> steps;
    std::string kept;
    for (auto& [sign, token] : SplitFlags(value)) {
        if (std::isdigit(static_cast<unsigned char>(token[0])) || IsCurrentFlag(token, name.c_str())) {
            if (sign) kept += sign;
            else if (!kept.empty()) kept += '+';
            kept += token;
            continue;
        }
        const TFlagMove* move = nullptr;
        for (const auto& m : kFlagMoves)
            if (token == m.Token) move = &m;
        if (!move) {
            steps.push_back({K::okSkip, name, std::string(sign ? std::string(1, sign) : "") + token});
            continue;
        }
        steps.push_back({move->Kind, move->Name, sign == '-' ? move->Off : move->On});
    }
    if (!kept.empty()) steps.insert(steps.begin(), {K::okGeneric, name, kept});
    return steps;
}

// "+parti4x4+parti8x8+partp8x8" -> "i4x4,i8x8,p8x8" (the partitions that are switched on).
std::vector<TOptionStep> TranslatePartitions(const std::string& value) {
    static const std::pair<const char*, const char*> names[] = {
        {"parti4x4", "i4x4"}, {"parti8x8", "i8x8"}, {"partp4x4", "p4x4"}, {"partp8x8", "p8x8"}, {"partb8x8", "b8x8"}};
    std::vector<TOptionStep> steps;
    std::string list;
    for (auto& [sign, token] : SplitFlags(value)) {
        const char* mapped = nullptr;
        for (auto& [from, to] : names)
            if (token == from) mapped = to;
        if (!mapped) {
            steps.push_back({K::okSkip, "partitions", std::string(sign ? std::string(1, sign) : "") + token});
            continue;
        }
        if (sign == '-') continue;
        if (!list.empty()) list += ',';
        list += mapped;
    }
    steps.insert(steps.begin(), {K::okCodecPrivate, "partitions", list.empty() ? "none" : list});
    return steps;
}
}  // namespace

std::optional<std::vector<TOptionStep>> TranslateLegacyOption(const std::string& name, const std::string& value) {
    if (name == "flags" || name == "flags2") {
        auto tokens = SplitFlags(value);
        bool allCurrent = true;
        for (auto& t : tokens)
            allCurrent = allCurrent && (std::isdigit(static_cast<unsigned char>(t.second[0])) ||
                                        IsCurrentFlag(t.second, name.c_str()));
        // Numbers and today's flag names go through unchanged.
        if (allCurrent) return std::nullopt;
        return TranslateFlags(name, value);
    }
    // Today's form ("i4x4,p8x8", "all", "none") needs no translation.
    if (name == "partitions" && value.find("part") != std::string::npos) return TranslatePartitions(value);
    if (name == "me_method") {
        // One old list of search methods, now split between x264 ("me_method") and the
        // MPEG-family encoders ("motion_est", where anything but zero and X1 means EPZS).
        static const std::map<std::string, std::pair<const char*, const char*>> methods = {
            {"zero", {"dia", "zero"}}, {"epzs", {"dia", nullptr}}, {"dia", {"dia", nullptr}},
            {"x1", {"hex", "xone"}},   {"xone", {"hex", "xone"}}, {"hex", {"hex", nullptr}},
            {"umh", {"umh", nullptr}}, {"full", {"esa", nullptr}}, {"esa", {"esa", nullptr}},
            {"tesa", {"tesa", nullptr}}, {"log", {"hex", nullptr}}, {"phods", {"hex", nullptr}},
            {"iter", {"hex", nullptr}}};
        auto it = methods.find(value);
        if (it == methods.end()) return std::vector<TOptionStep>{{K::okCodecPrivate, "me_method", value}};
        std::vector<TOptionStep> steps{{K::okCodecPrivate, "me_method", it->second.first}};
        if (it->second.second) steps.push_back({K::okCodecPrivate, "motion_est", it->second.second});
        return steps;
    }
    // Two halves of one x264 setting written as "a:b"; the store merges the halves.
    if (name == "deblockalpha") return std::vector<TOptionStep>{{K::okCodecPrivate, "deblock#0", value}};
    if (name == "deblockbeta") return std::vector<TOptionStep>{{K::okCodecPrivate, "deblock#1", value}};
    if (name == "psy_rd") return std::vector<TOptionStep>{{K::okCodecPrivate, "psy-rd#0", value}};
    if (name == "psy_trellis") return std::vector<TOptionStep>{{K::okCodecPrivate, "psy-rd#1", value}};
    auto it = Renames().find(name);
    if (it != Renames().end()) return std::vector<TOptionStep>{{it->second.Kind, it->second.NewName, value}};
    if (IsRemoved(name)) return std::vector<TOptionStep>{{K::okSkip, name, value}};
    return std::nullopt;
}

bool IsAudioPrivateOption(const std::string& name) { return AudioPrivateNames().count(name) > 0; }

std::string MapEncoderName(const std::string& name) {
    // An encoder this build lacks keeps its name, so that its lookup fails with that name.
    return CurrentEncoderName(name).value_or(name);
}
