#include "engine/FFmpegLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "engine/LibAVApi.h"

namespace {

AvUtilApi gAvUtil;
AvCodecApi gAvCodec;
AvFormatApi gAvFormat;
AvFilterApi gAvFilter;
SwScaleApi gSwScale;
SwResampleApi gSwResample;
SdlApi gSdl;

struct EntrySlot {
    const char* name;
    void** slot;
};

template <typename Api>
void ResetTable(Api& api) { api = Api{}; }

#define RS_SLOT(name) EntrySlot{#name, reinterpret_cast<void**>(&table.name)},
std::vector<EntrySlot> Slots(AvUtilApi& table) { return {RS_AVUTIL_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(AvCodecApi& table) { return {RS_AVCODEC_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(AvFormatApi& table) { return {RS_AVFORMAT_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(AvFilterApi& table) { return {RS_AVFILTER_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(SwScaleApi& table) { return {RS_SWSCALE_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(SwResampleApi& table) { return {RS_SWRESAMPLE_ENTRIES(RS_SLOT)}; }
std::vector<EntrySlot> Slots(SdlApi& table) { return {RS_SDL_ENTRIES(RS_SLOT)}; }
#undef RS_SLOT

std::string Format(const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// Binds every slot of one table; throws the program's text for the first missing name.
template <typename Api>
void BindTable(Api& table, void* handle, const std::string& fileName) {
    for (const EntrySlot& e : Slots(table)) {
        dlerror();
        void* p = dlsym(handle, e.name);
        if (!p) {
            const char* why = dlerror();
            throw std::runtime_error(Format("Load function %s@%s error: %s", e.name, fileName.c_str(),
                                            why ? why : "symbol not found"));
        }
        *e.slot = p;
    }
}

struct LibraryInfo {
    const char* baseName;
    int headerMajor;  // -1: the file name is fixed
    const char* fixedFileName;
};

constexpr LibraryInfo kLibraries[LibraryCount] = {
    {"avcodec", LIBAVCODEC_VERSION_MAJOR, nullptr},
    {"avdevice", LIBAVCODEC_VERSION_MAJOR, nullptr},  // released in step with avcodec
    {"avfilter", LIBAVFILTER_VERSION_MAJOR, nullptr},
    {"avformat", LIBAVFORMAT_VERSION_MAJOR, nullptr},
    {"avutil", LIBAVUTIL_VERSION_MAJOR, nullptr},
    {"swscale", LIBSWSCALE_VERSION_MAJOR, nullptr},
    {"swresample", LIBSWRESAMPLE_VERSION_MAJOR, nullptr},
    {"SDL2", -1, "libSDL2-2.0.so.0"},
};

// Libraries a member needs loaded before it, so that a private folder's copies are the
// ones its dependants resolve against.
constexpr TLibraryIndex kLoadOrder[LibraryCount] = {liAVUtil, liSWResample, liSWScale, liAVCodec,
                                                    liAVFormat, liAVFilter, liAVDevice, liSDL};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Bind routine per library, with the runtime's major version checked against the headers.
void BindLibrary(TLibraryIndex i, void* handle, const std::string& fileName) {
    auto checkMajor = [&](unsigned runtimeVersion) {
        const int runtimeMajor = int(runtimeVersion >> 16);
        if (runtimeMajor != kLibraries[i].headerMajor)
            throw std::runtime_error(Format("Load library %s error: version %d.%d.%d found, major version %d required",
                                            fileName.c_str(), runtimeMajor, int((runtimeVersion >> 8) & 0xff),
                                            int(runtimeVersion & 0xff), kLibraries[i].headerMajor));
    };
    switch (i) {
    case liAVUtil: BindTable(gAvUtil, handle, fileName); checkMajor(gAvUtil.avutil_version()); break;
    case liAVCodec: BindTable(gAvCodec, handle, fileName); checkMajor(gAvCodec.avcodec_version()); break;
    case liAVFormat: BindTable(gAvFormat, handle, fileName); checkMajor(gAvFormat.avformat_version()); break;
    case liAVFilter: BindTable(gAvFilter, handle, fileName); checkMajor(gAvFilter.avfilter_version()); break;
    case liSWScale: BindTable(gSwScale, handle, fileName); checkMajor(gSwScale.swscale_version()); break;
    case liSWResample: BindTable(gSwResample, handle, fileName); checkMajor(gSwResample.swresample_version()); break;
    case liSDL: BindTable(gSdl, handle, fileName); break;
    case liAVDevice: break;  // nothing of it is called
    default: break;
    }
}

void UnbindLibrary(TLibraryIndex i) {
    switch (i) {
    case liAVUtil: ResetTable(gAvUtil); break;
    case liAVCodec: ResetTable(gAvCodec); break;
    case liAVFormat: ResetTable(gAvFormat); break;
    case liAVFilter: ResetTable(gAvFilter); break;
    case liSWScale: ResetTable(gSwScale); break;
    case liSWResample: ResetTable(gSwResample); break;
    case liSDL: ResetTable(gSdl); break;
    default: break;
    }
}

}  // namespace

const AvUtilApi& avutil() { return gAvUtil; }
const AvCodecApi& avcodec() { return gAvCodec; }
const AvFormatApi& avformat() { return gAvFormat; }
const AvFilterApi& avfilter() { return gAvFilter; }
const SwScaleApi& swscale() { return gSwScale; }
const SwResampleApi& swresample() { return gSwResample; }
const SdlApi& sdl() { return gSdl; }

TFFmpegLoader::TFFmpegLoader() = default;

TFFmpegLoader::~TFFmpegLoader() {
    // Libraries stay mapped until the process ends: threads of theirs may still be winding
    // down, and unmapping code under a running thread is a crash.
}

TFFmpegLoader& FFLoader() {
    static TFFmpegLoader loader;
    return loader;
}

std::string TFFmpegLoader::LibraryFileName(TLibraryIndex i) const {
    if (!FStatus[i].FileName.empty()) return FStatus[i].FileName;
    const LibraryInfo& info = kLibraries[i];
    if (info.fixedFileName) return info.fixedFileName;
    return Format("lib%s.so.%d", info.baseName, info.headerMajor);
}

bool TFFmpegLoader::LoadLibrary(TLibraryIndex i) {
    TLibraryStatus& st = FStatus[i];
    const std::string fileName = LibraryFileName(i);
    if (!st.Handle) {
        std::string folder, name = fileName;
        if (auto slash = fileName.rfind('/'); slash != std::string::npos) {
            folder = fileName.substr(0, slash + 1);
            name = fileName.substr(slash + 1);
        } else if (!FLibraryFolder.empty()) {
            folder = FLibraryFolder;
            if (folder.back() != '/') folder += '/';
        }
        // The private folder first, the system's search after.
        const bool inFolder = !folder.empty() && FileExists(folder + name);
        const std::string path = inFolder ? folder + name : name;
        dlerror();
        st.Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!st.Handle) {
            const char* why = dlerror();
            FLastError = Format("Load library %s error: %s", (folder + name).c_str(), why ? why : "unknown error");
            return false;
        }
    }
    if (!st.Bound) {
        try {
            BindLibrary(i, st.Handle, fileName);
            st.Bound = true;
        } catch (const std::exception& e) {
            FLastError = e.what();
        }
    }
    if (!st.Bound) {
        UnloadLibrary(i);
        return false;
    }
    return true;
}

void TFFmpegLoader::UnloadLibrary(TLibraryIndex i) {
    TLibraryStatus& st = FStatus[i];
    if (st.Bound) UnbindLibrary(i);
    st.Bound = false;
    if (st.Handle) dlclose(st.Handle);
    st.Handle = nullptr;
}

bool TFFmpegLoader::LoadLibrarySet(TLibrarySet set) {
    if (set == 0) throw std::logic_error("Assertion failure");
    for (TLibraryIndex i : kLoadOrder) {
        if (!(set & LibBit(i))) continue;
        if (!LoadLibrary(i)) {
            UnloadLibrarySet(set);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::LibrarySetLoaded(TLibrarySet set) const {
    for (int i = 0; i < LibraryCount; ++i)
        if ((set & LibBit(TLibraryIndex(i))) && (!FStatus[i].Handle || !FStatus[i].Bound)) return false;
    return true;
}

void TFFmpegLoader::UnloadLibrarySet(TLibrarySet set) {
    for (int k = LibraryCount - 1; k >= 0; --k)
        if (set & LibBit(kLoadOrder[k])) UnloadLibrary(kLoadOrder[k]);
}
