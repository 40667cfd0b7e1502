// Checks the shipped format definition files against the catalogue, against the words the
// parameter panel understands, and against what the installed ffmpeg can really encode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Catalogue.h"
#include "formats/Edition.h"
#include "formats/ParameterTables.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {



// --- The panel's vocabulary: display names to the names the option builder passes on ---

const std::map<std::string, std::string>& VideoEncoderNames() {
    static const std::map<std::string, std::string> m{
        {"mpeg-4", "mpeg4"},         {"3gp", "3gp"},       {"3g2", "3g2"},         {"xvid", "libxvid"},
        {"mov", "mov"},              {"wmv1", "wmv1"},     {"wmv2", "wmv2"},       {"wmv3", "wmv3"},
        {"flv", "flv"},              {"swf", "swf"},       {"msmpeg4", "msmpeg4"}, {"msmpeg4v1", "msmpeg4v1"},
        {"msmpeg4v2", "msmpeg4v2"},  {"mpeg1video", "mpeg1video"}, {"mpeg2video", "mpeg2video"},
        {"h263", "h263"},            {"h263p", "h263p"},   {"rawvideo", "rawvideo"}, {"rv10", "rv10"},
        {"rv20", "rv20"},            {"dvvideo", "dvvideo"}, {"huffyuv", "huffyuv"}, {"ljpeg", "ljpeg"},
        {"mjpeg", "mjpeg"},          {"svq1", "svq1"},     {"zlib", "zlib"},       {"h264", "libx264"},
        {"h265", "libx265"},         {"av1", "libsvtav1"}, {"vp9", "libvpx-vp9"},  {"prores", "prores_ks"},
        {"dnxhr", "dnxhd"},
    };
    return m;
}

const std::map<std::string, std::string>& AudioEncoderNames() {
    static const std::map<std::string, std::string> m{
        {"mp3", "libmp3lame"},   {"ogg", "vorbis"},         {"mp2", "mp2"},
        {"aac", "libfaac"},      {"ac-3", "ac3"},           {"flac", "libflac"},
        {"amr_nb", "libopencore_amrnb"}, {"pcm_s16", "pcm_s16le"}, {"pcm_u16", "pcm_u16le"},
        {"pcm_alaw", "pcm_alaw"}, {"pcm_mulaw ", "pcm_mulaw"}, {"adpcm_ms", "adpcm_ms"},
        {"adpcm_ima_wav", "adpcm_ima_wav"}, {"wma1", "wmav1"}, {"wma2", "wmav2"},
        {"opus", "libopus"},     {"alac", "alac"},          {"pcm_s24", "pcm_s24le"},
    };
    return m;
}

// Older encoder names and the encoders that stand for them in today's libraries; names
// with no stand-in are not encodable here.
std::string CurrentEncoder(const std::string& name) {
    if (name == "libfaac") return "aac";
    if (name == "vorbis") return "libvorbis";
    if (name == "libflac") return "flac";
    if (name == "libopencore_amrnb") return "";
    return name;
}

// Video names the option builder passes on as the codec; any other leaves the choice to
// the container.
const std::set<std::string> PassedVideoCodecs{
    "mpeg4", "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2", "huffyuv", "dvvideo",
    "rawvideo", "h263p", "h263", "rv10", "rv20", "ljpeg", "mjpeg", "svq1", "zlib", "wmv1", "wmv2", "libx264",
    "libx265", "libsvtav1", "libvpx-vp9", "prores_ks", "dnxhd"};

// Editing encoders keep each picture at a quality of their profile: they take no bit rate.
bool TakesNoBitRate(const std::string& encoder) { return encoder == "prores_ks" || encoder == "dnxhd"; }

const std::set<std::string> PassedContainers{"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv", "mpegts", "vob"};
const std::set<std::string> DiscTargets{"ntsc-dvd", "pal-dvd", "ntsc-vcd", "pal-vcd", "ntsc-svcd", "pal-svcd"};

const std::set<int> VolumePercents{25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400};
const std::set<std::string> ChannelEntries{"as source", "mono 1 channel", "stereo 2 channels"};

const char* const ListKeys[] = {"VideoSize", "VideoBitRate", "FrameRate", "VideoEncoder", "AudioBitRate",
                                "SampleRate", "AudioEncoder", "Channel", "Volume"};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ',')) parts.push_back(part);
    if (!text.empty() && text.back() == ',') parts.push_back("");
    return parts;
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

std::optional<std::pair<int, int>> ParseSize(const std::string& text) {
    const auto x = text.find('x');
    if (x == std::string::npos) return std::nullopt;
    auto w = ParseInteger(text.substr(0, x)), h = ParseInteger(text.substr(x + 1));
    if (!w || !h) return std::nullopt;
    return std::make_pair(*w, *h);
}

// The shipped files in the source tree; found beside this test's source when the
// environment does not name the tree.
std::string DefinitionFile(TEdition edition) {
    const std::string& name = EditionProfile(edition).FormatFileName;
    const std::filesystem::path configured = std::filesystem::path(testsupport::SourceDir()) / "data" / name;
    if (std::filesystem::exists(configured)) return configured.string();
    return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "data" / name).lexically_normal().string();
}

// One format as its definition file gives it.
struct TDefinition {
    int Code = 0;
    std::string Format, FileExt;
    std::vector<std::pair<std::string, std::string>> EncoderOptions;  // the encoder's own settings
    std::map<std::string, std::vector<std::string>> Lists;  // absent: the box is disabled
    std::map<std::string, int> Defaults;

    const std::string& Default(const std::string& key) const { return Lists.at(key).at(size_t(Defaults.at(key))); }
    bool Has(const std::string& key) const { return Lists.count(key) > 0; }
};

TDefinition ReadDefinition(const IniFile& file, int code) {
    TDefinition d;
    d.Code = code;
    const std::string section = FormatSectionName(code);
    d.Format = file.ReadString(section, "Format", "null");
    d.FileExt = file.ReadString(section, "FileExt", "mp4");
    std::string options = file.ReadString(section, "EncoderOptions", "");
    for (size_t at = 0; !options.empty();) {
        const size_t end = options.find("<CRLF>", at);
        const std::string line = options.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) d.EncoderOptions.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        if (end == std::string::npos) break;
        at = end + 6;
    }
    for (const char* key : ListKeys) {
        const std::string value = file.ReadString(section, key, "null");
        const bool firstThree = std::string(key) == "VideoSize" || std::string(key) == "VideoBitRate" ||
                                std::string(key) == "FrameRate";
        if (value == "null" || (!firstThree && value.empty())) continue;
        d.Lists[key] = Split(value);
        d.Defaults[key] = file.ReadInteger(section, std::string("i") + key, 0);
    }
    return d;
}

std::set<std::string> InstalledEncoders() {
    auto r = testsupport::Run({"ffmpeg", "-hide_banner", "-encoders"});
    std::set<std::string> names;
    std::istringstream in(r.out);
    std::string flags, name;
    bool started = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find("------") != std::string::npos) {
            started = true;
            continue;
        }
        if (!started) continue;
        std::istringstream words(line);
        if (words >> flags >> name) names.insert(name);
    }
    return names;
}

// The encoder that really runs for a video display name, or "" when none can.
std::string EffectiveVideoEncoder(const TDefinition& d, const std::string& display) {
    auto it = VideoEncoderNames().find(display);
    if (it == VideoEncoderNames().end()) return "";
    if (PassedVideoCodecs.count(it->second)) return it->second;
    // Left to the container: only the Flash containers are offered that way.
    if (display == "flv" && (d.FileExt == "flv" || d.FileExt == "swf")) return "flv";
    return "";
}

std::string EffectiveAudioEncoder(const std::string& display) {
    auto it = AudioEncoderNames().find(display);
    return it == AudioEncoderNames().end() ? "" : CurrentEncoder(it->second);
}

class FormatDefinitionFile : public ::testing::TestWithParam<TEdition> {};

TEST_P(FormatDefinitionFile, DefinesEveryCatalogueCodeAndNothingElse) {
    const IniFile file(DefinitionFile(GetParam()));
    std::set<std::string> expected;
    for (int code : CatalogueFormatCodes(GetParam())) {
        expected.insert(FormatSectionName(code));
        EXPECT_TRUE(file.SectionExists(FormatSectionName(code))) << code;
    }
    for (const auto& name : file.ReadSectionNames()) EXPECT_TRUE(expected.count(name)) << "stray section " << name;
    // Plain LF endings, so the file reads the same everywhere.
    EXPECT_EQ(testsupport::ReadFile(file.Path()).find('\r'), std::string::npos);
}

TEST_P(FormatDefinitionFile, SpeaksOnlyThePanelsVocabulary) {
    const IniFile file(DefinitionFile(GetParam()));
    const std::set<std::string> encoders = InstalledEncoders();
    ASSERT_TRUE(encoders.count("mpeg4")) << "ffmpeg -encoders gave no list";
    for (int code : CatalogueFormatCodes(GetParam())) {
        SCOPED_TRACE("format " + std::to_string(code));
        const TDefinition d = ReadDefinition(file, code);
        EXPECT_FALSE(d.FileExt.empty());
        EXPECT_EQ(d.FileExt.find('.'), std::string::npos);
        for (const auto& [key, values] : d.Lists) {
            EXPECT_GE(d.Defaults.at(key), 0) << key;
            EXPECT_LT(d.Defaults.at(key), int(values.size())) << key;
            for (const auto& v : values) EXPECT_FALSE(v.empty()) << key << " has an empty entry";
        }
        ASSERT_TRUE(d.Has("AudioEncoder")) << "every format carries sound";
        const bool video = d.Has("VideoEncoder");
        EXPECT_EQ(video, d.Has("VideoSize"));
        EXPECT_EQ(video && !TakesNoBitRate(EffectiveVideoEncoder(d, d.Default("VideoEncoder"))), d.Has("VideoBitRate"));
        EXPECT_EQ(video, d.Has("FrameRate"));
        if (video) {
            for (const auto& v : d.Lists.at("VideoEncoder")) {
                const std::string e = EffectiveVideoEncoder(d, v);
                EXPECT_FALSE(e.empty()) << "video encoder " << v;
                if (!e.empty()) {
                    EXPECT_TRUE(encoders.count(e)) << e << " is not in ffmpeg -encoders";
                }
            }
            for (const auto& v : d.Lists.at("VideoSize")) {
                if (v == "as source") continue;
                auto size = ParseSize(v);
                ASSERT_TRUE(size) << v;
                EXPECT_TRUE(size->first > 0 && size->second > 0 && size->first % 2 == 0 && size->second % 2 == 0) << v;
            }
            if (d.Has("VideoBitRate"))
                for (const auto& v : d.Lists.at("VideoBitRate"))
                    EXPECT_TRUE(v == "as source" || ParseInteger(v).value_or(0) > 0 || QualityEntry(v) || TargetSizeEntry(v)) << v;
            for (const auto& v : d.Lists.at("FrameRate"))
                EXPECT_TRUE(v == "as source" || (IsNumber(v) && std::stod(v) > 0)) << v;
            const bool offersH264 = std::count(d.Lists.at("VideoEncoder").begin(), d.Lists.at("VideoEncoder").end(), "h264");
            // Formats that set their encoder up themselves do without the H.264 tuning keys.
            if (offersH264 && d.EncoderOptions.empty()) {
                const std::string section = FormatSectionName(code);
                for (const char* key : {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraGop"})
                    EXPECT_GT(file.ReadInteger(section, key, 0), 0) << key;
                EXPECT_GE(file.ReadInteger(section, "paraCoder", -1), 0);
            }
        }
        for (const auto& v : d.Lists.at("AudioEncoder")) {
            EXPECT_TRUE(AudioEncoderNames().count(v)) << "audio encoder " << v;
            const std::string e = EffectiveAudioEncoder(v);
            EXPECT_FALSE(e.empty()) << v << " cannot be encoded here";
            if (!e.empty()) {
                EXPECT_TRUE(encoders.count(e)) << e << " is not in ffmpeg -encoders";
            }
        }
        for (const auto& v : d.Lists.at("SampleRate"))
            EXPECT_TRUE(v == "as source" || ParseInteger(v).value_or(0) > 0) << v;
        // Lossless and PCM sound has no bit rate to choose.
        if (d.Has("AudioBitRate"))
            for (const auto& v : d.Lists.at("AudioBitRate"))
                EXPECT_TRUE(v == "as source" || (IsNumber(v) && std::stod(v) > 0)) << v;
        for (const auto& v : d.Lists.at("Channel")) EXPECT_TRUE(ChannelEntries.count(v)) << v;
        ASSERT_TRUE(d.Has("Volume"));
        for (const auto& v : d.Lists.at("Volume")) {
            ASSERT_FALSE(v.empty());
            EXPECT_TRUE(VolumePercents.count(ParseInteger(v.substr(0, v.size() - 1)).value_or(0))) << v;
        }
        EXPECT_EQ(d.Default("Volume"), "100%") << "sound keeps its level unless asked";
    }
}

// --- Encoding: every offered choice, one at a time from the defaults, with ffmpeg ---

struct TCombination {
    std::string Format, Ext, VideoEncoder, Size, VideoBitRate, FrameRate, AudioEncoder, SampleRate, Channel,
        AudioBitRate;  // empty encoder: no stream of that kind; empty value: not set
    bool Short = false;  // a few frames prove what is checked
    bool Sweep = false;  // one of the many single choices, tried only on request
    std::string Tag;     // tells apart choices the key leaves out
    std::vector<std::pair<std::string, std::string>> EncoderOptions;

    // The video bit rate decides nothing about whether a choice can be encoded.
    std::string Key() const {
        std::ostringstream k;
        k << Format << '|' << Ext << '|' << VideoEncoder << '|' << Size << '|' << FrameRate
          << '|' << AudioEncoder << '|' << SampleRate << '|' << Channel << '|' << AudioBitRate << '|' << Short
          << '|' << Tag;
        for (const auto& [key, value] : EncoderOptions) k << '|' << key << '=' << value;
        return k.str();
    }
};

// Encoders that accept only certain picture sizes; the others are tried small.
bool SizeBound(const std::string& encoder, const std::string& format) {
    return encoder == "h263" || encoder == "dvvideo" || DiscTargets.count(format);
}

double ValueOf(const std::string& v) { return v == "as source" ? -1 : std::stod(v); }

// Muxers that refuse a file with only one kind of stream.
bool NeedsBothStreams(const TDefinition& d) {
    std::string f = d.Format;
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return f == "psp" || d.FileExt == "dv";
}

// The defaults of the format as they are and every video and audio encoder it offers;
// then, on request, from the defaults: every size an encoder is bound by and every frame
// rate (without sound), and each sample rate, channel choice and bit rate of every audio
// encoder plus the corners of rate against bit rate (without picture).
std::vector<TCombination> Combinations(const TDefinition& d) {
    std::vector<TCombination> out;
    TCombination base;
    base.Format = d.Format;
    base.Ext = d.FileExt;
    const bool video = d.Has("VideoEncoder");
    if (video) {
        base.VideoEncoder = EffectiveVideoEncoder(d, d.Default("VideoEncoder"));
        base.EncoderOptions = d.EncoderOptions;
        base.Size = d.Default("VideoSize");
        // DNxHR takes pictures from 256x120 up; the source is smaller.
        if (base.VideoEncoder == "dnxhd" && base.Size == "as source") base.Size = "320x240";
        if (d.Has("VideoBitRate")) base.VideoBitRate = d.Default("VideoBitRate");
        base.FrameRate = d.Default("FrameRate");
    }
    base.AudioEncoder = EffectiveAudioEncoder(d.Default("AudioEncoder"));
    base.SampleRate = d.Default("SampleRate");
    base.Channel = d.Default("Channel");
    if (d.Has("AudioBitRate")) base.AudioBitRate = d.Default("AudioBitRate");
    // The whole second where it is cheap; high definition proves itself in a few frames.
    const auto size = ParseSize(base.Size);
    base.Short = size && size->first * size->second > 720 * 576;
    out.push_back(base);
    base.Short = false;

    if (video) {
        TCombination silent = base;
        if (!NeedsBothStreams(d)) silent.AudioEncoder = silent.SampleRate = silent.Channel = silent.AudioBitRate = "";
        silent.VideoBitRate = "";
        silent.Short = true;
        for (const auto& e : d.Lists.at("VideoEncoder")) {
            TCombination c = silent;
            c.VideoEncoder = EffectiveVideoEncoder(d, e);
            if (!SizeBound(c.VideoEncoder, c.Format)) {
                c.Size = c.VideoEncoder == "dnxhd" ? "320x240" : "160x120";
                out.push_back(c);
                continue;
            }
            for (const auto& size : d.Lists.at("VideoSize")) {
                c.Size = size;
                c.Sweep = size != base.Size;
                out.push_back(c);
            }
        }
        // The video bit rate matters only at its ends (the DVD target caps MPEG-2, for one).
        const std::vector<std::string> none;
        const auto& bitRates = d.Has("VideoBitRate") ? d.Lists.at("VideoBitRate") : none;
        for (const auto& v : bitRates.empty() ? none : std::vector<std::string>{bitRates.front(), bitRates.back()}) {
            TCombination c = silent;
            if (!SizeBound(c.VideoEncoder, c.Format)) c.Size = "160x120";
            c.VideoBitRate = v;
            c.Tag = "vb" + v;
            c.Sweep = true;
            out.push_back(c);
        }
        for (const auto& rate : d.Lists.at("FrameRate")) {
            TCombination c = silent;
            if (!SizeBound(c.VideoEncoder, c.Format)) c.Size = "160x120";
            c.FrameRate = rate;
            c.Sweep = true;
            out.push_back(c);
        }
    }

    TCombination sound = base;
    if (!NeedsBothStreams(d)) {
        sound.VideoEncoder = sound.Size = sound.VideoBitRate = sound.FrameRate = "";
    } else if (video) {
        sound.VideoBitRate = "";
        if (!SizeBound(sound.VideoEncoder, sound.Format)) sound.Size = "160x120";
    }
    sound.Short = true;
    const auto& rates = d.Lists.at("SampleRate");
    const std::vector<std::string> noRates{"as source"};
    const auto& bitRates = d.Has("AudioBitRate") ? d.Lists.at("AudioBitRate") : noRates;
    auto byValue = [](const std::string& a, const std::string& b) { return ValueOf(a) < ValueOf(b); };
    const auto [lowRate, highRate] = std::minmax_element(rates.begin(), rates.end(), byValue);
    const auto [lowBitRate, highBitRate] = std::minmax_element(bitRates.begin(), bitRates.end(), byValue);
    for (const auto& e : d.Lists.at("AudioEncoder")) {
        TCombination c = sound;
        c.AudioEncoder = EffectiveAudioEncoder(e);
        out.push_back(c);
        c.Sweep = true;
        for (const auto& v : rates) {
            TCombination x = c;
            x.SampleRate = v;
            out.push_back(x);
        }
        for (const auto& v : bitRates) {
            TCombination x = c;
            x.AudioBitRate = v;
            out.push_back(x);
        }
        for (const auto& v : d.Lists.at("Channel")) {
            TCombination x = c;
            x.Channel = v;
            out.push_back(x);
            x.AudioBitRate = *highBitRate;
            out.push_back(x);
        }
        TCombination x = c;
        x.SampleRate = *lowRate;
        x.AudioBitRate = *highBitRate;
        out.push_back(x);
        x.SampleRate = *highRate;
        x.AudioBitRate = *lowBitRate;
        out.push_back(x);
    }
    return out;
}

std::vector<std::string> FfmpegArguments(const TCombination& c, const std::string& input, const std::string& output) {
    std::vector<std::string> a{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", input};
    if (c.Short) a.insert(a.end(), {"-t", "0.2"});
    std::string lower = c.Format;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (DiscTargets.count(lower))
        a.insert(a.end(), {"-target", lower});
    else if (c.VideoEncoder == "mpeg2video")
        a.insert(a.end(), {"-target", "dvd"});  // MPEG-2 video always goes out under the DVD target
    if (!DiscTargets.count(lower) && PassedContainers.count(lower)) a.insert(a.end(), {"-f", lower});
    if (c.VideoEncoder.empty()) {
        a.push_back("-vn");
    } else {
        a.insert(a.end(), {"-c:v", c.VideoEncoder});
        if (c.VideoEncoder == "libx264") a.insert(a.end(), {"-preset", "veryfast"});
        // The format's own encoder settings, as the engine gets them.
        for (const auto& [key, value] : c.EncoderOptions) {
            if (key == "vtag") a.insert(a.end(), {"-tag:v", value});
            else if (key != "preset" || c.VideoEncoder != "libx264") a.insert(a.end(), {"-" + key, value});
        }
        if (c.Size != "as source") a.insert(a.end(), {"-s", c.Size});
        // DV's 525-line profile is 4:1:1; the other sizes take the encoder's usual format.
        if (c.VideoEncoder == "dvvideo" && c.Size == "720x480") a.insert(a.end(), {"-pix_fmt", "yuv411p"});
        if (auto crf = QualityEntry(c.VideoBitRate)) a.insert(a.end(), {"-crf", std::to_string(*crf), "-b:v", "0"});
        else if (!c.VideoBitRate.empty() && c.VideoBitRate != "as source" && !TargetSizeEntry(c.VideoBitRate))
            a.insert(a.end(), {"-b:v", c.VideoBitRate + "000"});
        if (c.FrameRate != "as source") a.insert(a.end(), {"-r", c.FrameRate});
    }
    a.push_back("-sn");
    if (c.AudioEncoder.empty()) {
        a.push_back("-an");
    } else {
        a.insert(a.end(), {"-c:a", c.AudioEncoder});
        if (c.SampleRate != "as source") a.insert(a.end(), {"-ar", c.SampleRate});
        if (c.Channel == "mono 1 channel") a.insert(a.end(), {"-ac", "1"});
        if (c.Channel == "stereo 2 channels") a.insert(a.end(), {"-ac", "2"});
        if (!c.AudioBitRate.empty() && c.AudioBitRate != "as source")
            a.insert(a.end(), {"-b:a", std::to_string(long(std::stod(c.AudioBitRate) * 1000))});
    }
    a.push_back(output);
    return a;
}

// codec names as ffprobe reports them
std::string CodecOf(const std::string& encoder) {
    static const std::map<std::string, std::string> m{
        {"libx264", "h264"}, {"libxvid", "mpeg4"}, {"msmpeg4", "msmpeg4v3"}, {"flv", "flv1"},
        {"libmp3lame", "mp3"}, {"libvorbis", "vorbis"}, {"libx265", "hevc"}, {"libsvtav1", "av1"},
        {"libvpx-vp9", "vp9"}, {"prores_ks", "prores"}, {"libopus", "opus"}};
    auto it = m.find(encoder);
    return it == m.end() ? encoder : it->second;
}

// The first video and the first audio stream's fields, by codec_type.
std::map<std::string, std::map<std::string, std::string>> ProbeStreams(const std::string& file) {
    auto r = testsupport::Run({"ffprobe", "-v", "error", "-show_entries",
                               "stream=codec_type,codec_name,width,height,sample_rate,channels", "-of",
                               "compact=p=0", file});
    std::map<std::string, std::map<std::string, std::string>> streams;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> fields;
        std::istringstream in(line);
        for (std::string kv; std::getline(in, kv, '|');) {
            const auto eq = kv.find('=');
            if (eq != std::string::npos) fields[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        streams.emplace(fields["codec_type"], fields);
    }
    return streams;
}

TEST(FormatDefinitionEncoding, EveryOfferedChoiceEncodesWithTheDefaultsOfItsFormat) {
    testsupport::TempDir dir;
    // AVI interleaves sound finely, which the DV muxer needs from its input.
    const std::string source = dir.file("source.avi");
    testsupport::MakeClip(source, 1.0, {"-s", "160x120", "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", "-ac", "2"});

    // The sweep of every single choice takes minutes; it runs when REELSHIFT_FORMAT_SWEEP is set.
    const bool sweep = std::getenv("REELSHIFT_FORMAT_SWEEP") != nullptr;
    std::map<std::string, std::pair<TCombination, std::string>> todo;  // distinct, with a format to name
    for (TEdition edition : {TEdition::Mp4Avi, TEdition::Video}) {
        const IniFile file(DefinitionFile(edition));
        for (int code : CatalogueFormatCodes(edition))
            for (const auto& c : Combinations(ReadDefinition(file, code))) {
                if (c.Sweep && !sweep) continue;
                todo.emplace(c.Key(), std::make_pair(c, EditionName(edition) + " " + std::to_string(code)));
            }
    }
    ASSERT_GT(todo.size(), 100u);

    int n = 0;
    for (const auto& [key, entry] : todo) {
        const auto& [c, where] = entry;
        if (c.VideoEncoder.empty() && !c.Size.empty()) continue;  // an unknown encoder, reported above
        const std::string output = dir.file("out" + std::to_string(n++) + "." + c.Ext);
        const auto args = FfmpegArguments(c, source, output);
        std::string command;
        for (const auto& a : args) command += a + " ";
        SCOPED_TRACE(where + ": " + command);
        auto r = testsupport::Run(args);
        if (r.exitCode != 0) {
            ADD_FAILURE() << r.err;
            continue;
        }
        auto streams = ProbeStreams(output);
        EXPECT_EQ(streams.count("video"), c.VideoEncoder.empty() ? 0u : 1u);
        EXPECT_EQ(streams.count("audio"), c.AudioEncoder.empty() ? 0u : 1u);
        if (!c.VideoEncoder.empty()) {
            auto& v = streams["video"];
            EXPECT_EQ(v["codec_name"], CodecOf(c.VideoEncoder));
            if (c.Size != "as source") {
                EXPECT_EQ(v["width"] + "x" + v["height"], c.Size);
            }
        }
        if (!c.AudioEncoder.empty()) {
            auto& a = streams["audio"];
            EXPECT_EQ(a["codec_name"], CodecOf(c.AudioEncoder));
            if (c.SampleRate != "as source") {
                EXPECT_EQ(a["sample_rate"], c.SampleRate);
            }
            if (c.Channel == "mono 1 channel") {
                EXPECT_EQ(a["channels"], "1");
            }
            if (c.Channel == "stereo 2 channels") {
                EXPECT_EQ(a["channels"], "2");
            }
        }
        std::error_code ec;
        std::filesystem::remove(output, ec);
    }
    std::printf("%d combinations encoded\n", n);
}

INSTANTIATE_TEST_SUITE_P(Editions, FormatDefinitionFile, ::testing::Values(TEdition::Mp4Avi, TEdition::Video),
                         [](const auto& info) { return EditionName(info.param); });

}  // namespace
