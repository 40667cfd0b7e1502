// libFuzzer target: the settings reader on arbitrary bytes. The input becomes the settings
// file (and, when its first byte is odd, the format definition file too); every key the
// program reads is read, and the options of a conversion are made from it for a format of
// the catalogue, as a run or reelshift-cli would make them. Whatever was stored, the options
// hold a frame size the encoders take.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "formats/ParameterTables.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

namespace {
std::string gSettings, gFormats, gDefinitions;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The option builder asks the encoder library which encoders this build has.
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(ProbeLibraries)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        std::abort();
    }
    FFLogger().SetLogLevel(llQuiet);
    const char* dir = std::getenv("FUZZ_SCRATCH_DIR");
    const std::string base = std::string(dir ? dir : "/tmp") + "/settings-fuzz-" + std::to_string(::getpid());
    gSettings = base + ".ini";
    gFormats = base + "-formats.ini";
    // The format definition file the program ships.
    const char* definitions = std::getenv("FUZZ_FORMAT_FILE");
    // Only the sections of the formats tried below: every read opens the file, as the
    // program's do, and the whole file would make each run slow.
    std::istringstream whole(ReadWhole(definitions ? definitions : "data/zantomp4aviformat.ini"));
    bool keep = false;
    for (std::string line; std::getline(whole, line);) {
        if (!line.empty() && line[0] == '[')
            keep = line.rfind("[formatInfo0]", 0) == 0 || line.rfind("[formatInfo100]", 0) == 0 ||
                   line.rfind("[formatInfo103]", 0) == 0 || line.rfind("[formatInfo200]", 0) == 0;
        if (keep) gDefinitions += line + "\n";
    }
    if (gDefinitions.empty()) {
        std::fprintf(stderr, "no format definition file (set FUZZ_FORMAT_FILE)\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    WriteWhole(gSettings, bytes);
    WriteWhole(gFormats, size > 0 && (data[0] & 1) ? bytes : gDefinitions);
    const IniFile settings(gSettings), formats(gFormats);

    int reads = 0;  // each read parses the whole file: a few dozen keys say enough
    for (const std::string& section : settings.ReadSectionNames())
        for (const std::string& key : settings.ReadSectionKeys(section)) {
            if (++reads > 40) break;
            (void)settings.ReadInteger(section, key, 0);
            (void)settings.ReadBool(section, key, false);
        }
    const int code = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    for (int format : {code, 0, 100, 103, 200}) {
        (void)StoredZoomMode(format, settings);
        TJobGeometry job;
        job.ZoomMode = StoredZoomMode(format, settings);
        job.CropMarginTop = settings.ReadInteger("fuzz", "top", 0);
        job.CropMarginLeft = settings.ReadInteger("fuzz", "left", 0);
        TSourceSummary source;
        source.VideoStreamCount = 1;
        source.Width = 320;
        source.Height = 240;
        TDefaultSizeAnswer answer;
        TOutputOptions out;
        TInputOptions in;
        out.Reset();
        in.Reset();
        BuildOutputOptions(format, formats, settings, job, source, answer, out, in, [](const std::string&) {});
        if (!out.FrameSize.empty() && !ParseFrameSize(out.FrameSize)) {
            std::fprintf(stderr, "frame size %s reached the options\n", out.FrameSize.c_str());
            std::abort();
        }
    }
    return 0;
}
