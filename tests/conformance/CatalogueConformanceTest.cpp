// Every format of both catalogues, as the user never touched it, converts a short clip with
// picture and sound into a file that ffprobe reads, with the container, codecs, duration and
// frame size its definition promises. Failures are listed in one table at the end.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "formats/Catalogue.h"
#include "formats/Edition.h"
#include "formats/ParameterTables.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int SourceWidth = 320, SourceHeight = 180;  // wider than most targets: letterbox bars show
constexpr double ClipSeconds = 2.0;

// What a definition promises for its default choices.
struct Promise {
    TEdition Edition;
    int Code = 0;
    std::string Name;
    std::string Extension;
    std::string Container;   // a demuxer name ffprobe reports for such files
    std::string VideoCodec;  // codec name as ffprobe reports it; "" when no picture
    bool ContainerChoosesVideo = false;
    std::string AudioCodec;
    int Width = 0, Height = 0;
    int BarRows = 0;  // letterbox rows at top and bottom for the 16:9 source
};

struct Outcome {
    Promise P;
    std::vector<std::string> Problems;
};

// ffprobe's name for the codec an encoder writes.
std::string CodecOfEncoder(const std::string& encoder) {
    static const std::map<std::string, std::string> names = {
        {"libxvid", "mpeg4"},    {"libx264", "h264"},  {"msmpeg4", "msmpeg4v3"}, {"libmp3lame", "mp3"},
        {"libfaac", "aac"},      {"aac", "aac"},       {"vorbis", "vorbis"},     {"libvorbis", "vorbis"},
        {"libflac", "flac"},     {"flac", "flac"},     {"pcm_s16le", "pcm_s16le"}, {"flv", "flv1"},
    };
    auto it = names.find(encoder);
    return it != names.end() ? it->second : encoder;
}

// The container a file of this definition is, as ffprobe names its demuxer.
std::string ContainerOf(const std::string& format, const std::string& extension) {
    static const std::map<std::string, std::string> byFormat = {
        {"ipod", "mov,mp4"}, {"psp", "mov,mp4"}, {"3gp", "mov,mp4"}, {"3g2", "mov,mp4"}, {"mov", "mov,mp4"},
        {"avi", "avi"},      {"vcd", "mpeg"},    {"vob", "mpeg"},    {"flv", "flv"},     {"mpegts", "mpegts"}};
    static const std::map<std::string, std::string> byExtension = {
        {"mp4", "mov,mp4"}, {"m4a", "mov,mp4"}, {"mov", "mov,mp4"}, {"3gp", "mov,mp4"}, {"3g2", "mov,mp4"},
        {"avi", "avi"},     {"mpg", "mpeg"},    {"vob", "mpeg"},    {"wmv", "asf"},     {"wma", "asf"},
        {"asf", "asf"},     {"dv", "dv"},       {"mp3", "mp3"},     {"aac", "aac"},     {"wav", "wav"},
        {"ogg", "ogg"},     {"ac3", "ac3"},     {"flv", "flv"},     {"swf", "swf"},     {"ts", "mpegts"},
        {"mkv", "matroska"}};
    std::string f = format;
    std::transform(f.begin(), f.end(), f.begin(), ::tolower);
    if (auto it = byFormat.find(f); it != byFormat.end()) return it->second;
    auto it = byExtension.find(extension);
    return it != byExtension.end() ? it->second : "?" + extension;
}

// The default entry of a definition's list, or "" when the list is not offered.
std::string DefaultEntry(const IniFile& definitions, const std::string& section, TParameter p) {
    const std::string list = definitions.ReadString(section, ListKey(p), "null");
    if (!ListOffered(p, list)) return "";
    const auto entries = SplitList(list);
    const int i = definitions.ReadInteger(section, IndexKey(p), 0);
    return i >= 0 && size_t(i) < entries.size() ? entries[size_t(i)] : "";
}

Promise PromiseOf(TEdition edition, int code, const IniFile& definitions) {
    Promise p;
    p.Edition = edition;
    p.Code = code;
    p.Name = CatalogueFormatName(edition, code);
    const std::string section = FormatSectionName(code);
    p.Extension = definitions.ReadString(section, "FileExt", "mp4");
    p.Container = ContainerOf(definitions.ReadString(section, "Format", "null"), p.Extension);

    const std::string video = EngineValue(TParameter::VideoEncoder, DefaultEntry(definitions, section, TParameter::VideoEncoder)).value_or("");
    const std::string audio = EngineValue(TParameter::AudioEncoder, DefaultEntry(definitions, section, TParameter::AudioEncoder)).value_or("");
    p.AudioCodec = CodecOfEncoder(audio.empty() && video.empty() ? "libfaac" : audio);
    if (video.empty()) return p;  // sound only

    // Names that leave the choice to the container.
    for (const char* c : {"mov", "3gp", "3g2", "flv", "swf"})
        if (video == c) p.ContainerChoosesVideo = true;
    p.VideoCodec = p.ContainerChoosesVideo ? "" : CodecOfEncoder(video);

    const std::string size = DefaultEntry(definitions, section, TParameter::VideoSize);
    if (size == "as source" || size.empty()) {
        p.Width = SourceWidth;
        p.Height = SourceHeight;
    } else if (std::sscanf(size.c_str(), "%dx%d", &p.Width, &p.Height) != 2) {
        p.Width = 320;  // the terminal answers the size question with the default size
        p.Height = 240;
    }
    if (video == "h263" && std::string("704x576,352x288,176x144,160x120,128x96").find(size) == std::string::npos) {
        if (p.Width > 176 && p.Width <= 352) p.Width = 352, p.Height = 288;
        else if (p.Width > 352) p.Width = 704, p.Height = 576;
    }
    // Letterbox of a wide source into a taller frame: bars above and below.
    if (double(SourceWidth) / SourceHeight > double(p.Width) / p.Height) {
        int content = int(SourceHeight / (double(SourceWidth) / p.Width));
        content = content / 2 * 2;
        p.BarRows = (p.Height - content) / 4 * 2;
    }
    return p;
}

double TopRowsLuma(const std::string& file, int rows) {
    auto r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-frames:v", "1", "-vf",
                  "crop=iw:" + std::to_string(rows) + ":0:0,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-",
                  "-f", "null", "-"});
    auto eq = r.out.find("YAVG=");
    return eq == std::string::npos ? -1.0 : std::stod(r.out.substr(eq + 5));
}

// Frames counted by decoding, over the frame rate; for sound-only files the last packet's end.
double CountedDuration(const std::string& file) {
    auto r = Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                  "stream=nb_read_frames,r_frame_rate", "-of", "default=noprint_wrappers=1", file});
    int frames = 0, num = 0, den = 1;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("nb_read_frames=", 0) == 0) frames = std::atoi(line.c_str() + 15);
        if (line.rfind("r_frame_rate=", 0) == 0) std::sscanf(line.c_str() + 13, "%d/%d", &num, &den);
    }
    return num > 0 && den > 0 ? frames * double(den) / num : 0.0;
}

void Check(const std::string& source, const std::string& workDir, Outcome& outcome) {
    const Promise& p = outcome.P;
    auto& problems = outcome.Problems;
    const std::string outDir = workDir + "/" + EditionName(p.Edition) + "-" + std::to_string(p.Code);
    auto r = Run({BinDir() + "/reelshift-cli", "--format", std::to_string(p.Code), "--edition", EditionName(p.Edition),
                  "--settings", workDir + "/never-touched.ini", "--output-dir", outDir, source});
    if (r.exitCode != 0) {
        std::string why = r.err;
        while (!why.empty() && why.back() == '\n') why.pop_back();
        problems.push_back("conversion failed (" + std::to_string(r.exitCode) + "): " + why);
        return;
    }
    const std::string file = outDir + "/clip_(new)." + p.Extension;
    if (!fs::exists(file)) {
        problems.push_back("no file " + file);
        return;
    }
    auto probe = Run({"ffprobe", "-v", "error", "-of", "json", "-show_entries",
                      "format=format_name,duration:stream=codec_type,codec_name,width,height", file});
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(probe.out)).object();
    if (probe.exitCode != 0 || doc.isEmpty()) {
        problems.push_back("ffprobe cannot read it: " + probe.err);
        return;
    }
    const QJsonObject format = doc.value("format").toObject();
    const std::string container = format.value("format_name").toString().toStdString();
    if (container.find(p.Container) == std::string::npos)
        problems.push_back("container " + container + ", promised " + p.Container);
    double duration = format.value("duration").toString().toDouble();
    if (duration <= 0) duration = CountedDuration(file);  // containers without a duration field (SWF)
    if (std::fabs(duration - ClipSeconds) > 0.25)
        problems.push_back("duration " + std::to_string(duration) + " s");

    int videos = 0, audios = 0;
    for (const auto& value : doc.value("streams").toArray()) {
        const QJsonObject s = value.toObject();
        const std::string type = s.value("codec_type").toString().toStdString();
        const std::string codec = s.value("codec_name").toString().toStdString();
        if (type == "video") {
            ++videos;
            if (!p.VideoCodec.empty() && codec != p.VideoCodec)
                problems.push_back("video codec " + codec + ", promised " + p.VideoCodec);
            const int w = s.value("width").toInt(), h = s.value("height").toInt();
            if (w != p.Width || h != p.Height)
                problems.push_back("frame " + std::to_string(w) + "x" + std::to_string(h) + ", promised " +
                                   std::to_string(p.Width) + "x" + std::to_string(p.Height));
        } else if (type == "audio") {
            ++audios;
            if (codec != p.AudioCodec) problems.push_back("audio codec " + codec + ", promised " + p.AudioCodec);
        }
    }
    const bool picture = !p.VideoCodec.empty() || p.ContainerChoosesVideo;
    if (picture && videos != 1) problems.push_back(std::to_string(videos) + " video streams, promised 1");
    if (!picture && videos != 0) problems.push_back("a sound-only format wrote a picture");
    if (audios != 1) problems.push_back(std::to_string(audios) + " audio streams, promised 1");
    if (picture && videos == 1 && p.BarRows >= 4) {
        const double luma = TopRowsLuma(file, p.BarRows - 2);
        if (luma < 0 || luma > 32) problems.push_back("no letterbox bar at the top (luma " + std::to_string(luma) + ")");
    }
}

}  // namespace

TEST(CatalogueConformance, EveryFormatOfBothEditionsMakesTheFileItPromises) {
    TempDir work;
    const std::string source = work.file("clip.avi");
    MakeClip(source, ClipSeconds, {"-s", std::to_string(SourceWidth) + "x" + std::to_string(SourceHeight), "-c:v",
                                   "mpeg4", "-q:v", "3", "-c:a", "mp2"});

    std::vector<Outcome> outcomes;
    for (TEdition edition : {TEdition::Mp4Avi, TEdition::Video}) {
        const IniFile definitions(BinDir() + "/" + EditionProfile(edition).FormatFileName);
        ASSERT_TRUE(fs::exists(definitions.Path())) << definitions.Path();
        for (int code : CatalogueFormatCodes(edition)) outcomes.push_back({PromiseOf(edition, code, definitions), {}});
    }
    EXPECT_EQ(outcomes.size(), 18u + 121u);

    // Two conversions at a time: the machine this runs on has two cores.
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < outcomes.size();) Check(source, work.path().string(), outcomes[i]);
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();

    std::ostringstream table;
    int failed = 0;
    for (const auto& o : outcomes) {
        if (o.Problems.empty()) continue;
        ++failed;
        std::string why;
        for (const auto& problem : o.Problems) why += (why.empty() ? "" : "; ") + problem;
        table << "  " << EditionName(o.P.Edition) << "\t" << o.P.Code << "\t" << o.P.Name << "\t" << why << "\n";
    }
    EXPECT_EQ(failed, 0) << failed << " of " << outcomes.size() << " formats broke their promise:\n"
                         << "  edition\tcode\tname\twhy\n"
                         << table.str();
}
