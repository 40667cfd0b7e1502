#include "engine/FFmpegLoader.h"

#include "platform/ProgramFolder.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLogger.h"
#include "engine/LibAVApi.h"

namespace {

AvUtilApi gAvUtil;
AvCodecApi gAvCodec;
AvFormatApi gAvFormat;
AvFilterApi gAvFilter;
SwScaleApi gSwScale;
SwResampleApi gSwResample;
SdlApi gSdl;

template <typename Api>
void ResetTable(Api& api) { api = Api{}; }

#define RS_SLOT(name) TEntrySlot{#name, reinterpret_cast<void**>(&table.name)},
#define RS_TABLE(Api, FUNCTIONS, VARIABLES)                                             \
    std::vector<TEntrySlot> Functions(Api& table) { return {FUNCTIONS(RS_SLOT)}; }      \
    std::vector<TEntrySlot> Variables([[maybe_unused]] Api& table) { return {VARIABLES(RS_SLOT)}; }
RS_TABLE(AvUtilApi, RS_AVUTIL_ENTRIES, RS_AVUTIL_VARIABLES)
RS_TABLE(AvCodecApi, RS_AVCODEC_ENTRIES, RS_AVCODEC_VARIABLES)
RS_TABLE(AvFormatApi, RS_AVFORMAT_ENTRIES, RS_AVFORMAT_VARIABLES)
RS_TABLE(AvFilterApi, RS_AVFILTER_ENTRIES, RS_AVFILTER_VARIABLES)
RS_TABLE(SwScaleApi, RS_SWSCALE_ENTRIES, RS_SWSCALE_VARIABLES)
RS_TABLE(SwResampleApi, RS_SWRESAMPLE_ENTRIES, RS_SWRESAMPLE_VARIABLES)
RS_TABLE(SdlApi, RS_SDL_ENTRIES, RS_SDL_VARIABLES)
#undef RS_TABLE
#undef RS_SLOT

// The system's text for the last failed look-up.
std::string LastDlError(const char* fallback) {
    const char* why = dlerror();
    return why ? why : fallback;
}

void* Lookup(void* handle, const char* name, const char* what, const std::string& fileName) {
    dlerror();
    void* p = dlsym(handle, name);
    if (!p) throw FFmpegException(Format("Load %s %s@%s error: %s", what, name, fileName.c_str(),
                                         LastDlError("symbol not found").c_str()));
    return p;
}

struct LibraryInfo {
    const char* baseName;
    int headerMajor;  // -1: the file name is fixed
    const char* fixedFileName;
    const char* versionEntry;  // checked against headerMajor before anything else is bound
};

// A library's symbols are looked up among its own dependencies before the program's: the
// program's some forty Qt and system libraries come first otherwise, and binding the FFmpeg
// set's 46 000 symbols then took 40 ms of each start instead of 27. The sanitizers refuse
// that order (their runtime must come first), so their builds keep the usual one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REELSHIFT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define REELSHIFT_SANITIZED 1
#endif
#endif
#ifdef REELSHIFT_SANITIZED
constexpr int kOwnDependenciesFirst = 0;
#else
constexpr int kOwnDependenciesFirst = RTLD_DEEPBIND;
#endif

constexpr LibraryInfo kLibraries[LibraryCount] = {
    {"avcodec", LIBAVCODEC_VERSION_MAJOR, nullptr, "avcodec_version"},
    {"avdevice", LIBAVCODEC_VERSION_MAJOR, nullptr, "avdevice_version"},  // released in step with avcodec
    {"avfilter", LIBAVFILTER_VERSION_MAJOR, nullptr, "avfilter_version"},
    {"avformat", LIBAVFORMAT_VERSION_MAJOR, nullptr, "avformat_version"},
    {"avutil", LIBAVUTIL_VERSION_MAJOR, nullptr, "avutil_version"},
    {"swscale", LIBSWSCALE_VERSION_MAJOR, nullptr, "swscale_version"},
    {"swresample", LIBSWRESAMPLE_VERSION_MAJOR, nullptr, "swresample_version"},
    {"SDL2", -1, "libSDL2-2.0.so.0", nullptr},
};

// Libraries a member needs loaded before it, so that a private folder's copies are the
// ones its dependants resolve against.
constexpr TLibraryIndex kLoadOrder[LibraryCount] = {liAVUtil, liSWResample, liSWScale, liAVCodec,
                                                    liAVFormat, liAVFilter, liAVDevice, liSDL};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A library of another generation keeps its file name only by accident; refuse it before
// its entry points are taken at face value.
void CheckMajor(TLibraryIndex i, void* handle, const std::string& fileName) {
    const LibraryInfo& info = kLibraries[i];
    if (!info.versionEntry) return;
    auto version = reinterpret_cast<unsigned (*)()>(Lookup(handle, info.versionEntry, "function", fileName));
    const unsigned v = version();
    const int major = int(v >> 16);
    if (major != info.headerMajor)
        throw FFmpegException(Format("Load library %s error: version %d.%d.%d found, major version %d required",
                                     fileName.c_str(), major, int((v >> 8) & 0xff), int(v & 0xff), info.headerMajor));
}

template <typename Api>
void BindTable(Api& table, void* handle, const std::string& fileName) {
    BindEntries(handle, fileName, Functions(table), Variables(table));
}

// Bind routine per library.
void BindLibrary(TLibraryIndex i, void* handle, const std::string& fileName) {
    CheckMajor(i, handle, fileName);
    switch (i) {
    case liAVUtil: BindTable(gAvUtil, handle, fileName); break;
    case liAVCodec: BindTable(gAvCodec, handle, fileName); break;
    case liAVFormat: BindTable(gAvFormat, handle, fileName); break;
    case liAVFilter: BindTable(gAvFilter, handle, fileName); break;
    case liSWScale: BindTable(gSwScale, handle, fileName); break;
    case liSWResample: BindTable(gSwResample, handle, fileName); break;
    case liSDL: BindTable(gSdl, handle, fileName); break;
    default: break;  // avdevice: nothing of it is called
    }
}

// Unbind routine per library: every pointer of its table back to none.
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

void BindEntries(void* handle, const std::string& fileName, const std::vector<TEntrySlot>& functions,
                 const std::vector<TEntrySlot>& variables) {
    for (const TEntrySlot& e : functions) *e.slot = Lookup(handle, e.name, "function", fileName);
    for (const TEntrySlot& e : variables) *e.slot = Lookup(handle, e.name, "variable", fileName);
}

std::string DefaultLibraryFolder() {
    std::string folder = ProgramFolder();
    if (folder.back() != '/') folder += '/';
    return folder + "LibAV";
}

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
    static TFFmpegLoader& loader = []() -> TFFmpegLoader& {
        static TFFmpegLoader made;
        made.SetLibraryFolder(DefaultLibraryFolder());
        return made;
    }();
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
        st.Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL | kOwnDependenciesFirst);
        if (!st.Handle) {
            FLastError = Format("Load library %s error: %s", (folder + name).c_str(),
                                LastDlError("unknown error").c_str());
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
    if (i == liAVUtil && HookLog) FFLogger().Attach();
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
    set &= (TLibrarySet(1) << LibraryCount) - 1;
    if (set == 0) throw std::logic_error("Assertion failure");
    TLibrarySet before = 0;
    for (int i = 0; i < LibraryCount; ++i)
        if (FStatus[i].Handle && FStatus[i].Bound) before |= LibBit(TLibraryIndex(i));
    for (TLibraryIndex i : kLoadOrder) {
        if (!(set & LibBit(i))) continue;
        if (!LoadLibrary(i)) {
            UnloadLibrarySet(set & ~before);
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
    // Dependants first, so that nothing is left pointing into a freed library.
    for (int k = LibraryCount - 1; k >= 0; --k)
        if (set & LibBit(kLoadOrder[k])) UnloadLibrary(kLoadOrder[k]);
}
