#pragma once
// Loads the media libraries at run time and binds every entry point of LibAVApi.h.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ProgramFolder.h"  // users of the library folder often want the program's too

enum TLibraryIndex : int {
    liAVCodec = 0,
    liAVDevice = 1,
    liAVFilter = 2,
    liAVFormat = 3,
    liAVUtil = 4,
    liSWScale = 5,
    liSWResample = 6,  // audio resampling lives here in today's libraries
    liSDL = 7,
    LibraryCount = 8
};

using TLibrarySet = std::uint32_t;  // bit n = library index n
constexpr TLibrarySet LibBit(TLibraryIndex i) { return TLibrarySet(1) << i; }
constexpr TLibrarySet EngineLibraries = LibBit(liAVCodec) | LibBit(liAVFilter) | LibBit(liAVFormat) |
                                        LibBit(liAVUtil) | LibBit(liSWScale) | LibBit(liSWResample);
constexpr TLibrarySet PlayerLibraries = EngineLibraries | LibBit(liSDL);
// What reading a file's information needs: no filters, no sound output.
constexpr TLibrarySet ProbeLibraries = LibBit(liAVCodec) | LibBit(liAVFormat) | LibBit(liAVUtil) |
                                       LibBit(liSWScale) | LibBit(liSWResample);

// What the loader binds from one library: functions and exported variables by name.
struct TEntrySlot {
    const char* name;
    void** slot;
};

// Looks up every name in handle; the first one missing throws FFmpegException with
// "Load function %s@%s error: %s" or "Load variable %s@%s error: %s".
void BindEntries(void* handle, const std::string& fileName, const std::vector<TEntrySlot>& functions,
                 const std::vector<TEntrySlot>& variables);

// The private library folder inside the program's folder.
std::string DefaultLibraryFolder();

struct TLibraryStatus {
    std::string FileName;  // overrides the built name when set
    void* Handle = nullptr;
    bool Bound = false;
};

class TFFmpegLoader {
public:
    TFFmpegLoader();
    ~TFFmpegLoader();
    TFFmpegLoader(const TFFmpegLoader&) = delete;
    TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

    void SetLibraryFolder(const std::string& folder) { FLibraryFolder = folder; }
    const std::string& LibraryFolder() const { return FLibraryFolder; }
    const std::string& LastError() const { return FLastError; }

    // Loads the members in dependency order: a library found in LibraryFolder is opened
    // from there (its dependants then resolve against it), any other through the system's
    // search. True when every member is loaded and bound; on the first failure the members
    // this call loaded are unloaded again (members an earlier call loaded stay: others use
    // them) and LastError says why.
    bool LoadLibrarySet(TLibrarySet set);
    bool LibrarySetLoaded(TLibrarySet set) const;
    void UnloadLibrarySet(TLibrarySet set);

    // The built name ("libavcodec.so.59") unless a file name of its own was set.
    std::string LibraryFileName(TLibraryIndex i) const;
    void SetLibraryFileName(TLibraryIndex i, const std::string& fileName) { FStatus[i].FileName = fileName; }
    const TLibraryStatus& Status(TLibraryIndex i) const { return FStatus[i]; }

    // Attach the process's logger as soon as avutil is bound.
    bool HookLog = true;

private:
    bool LoadLibrary(TLibraryIndex i);
    void UnloadLibrary(TLibraryIndex i);

    std::array<TLibraryStatus, LibraryCount> FStatus;
    std::string FLibraryFolder;
    std::string FLastError;
};

// The one loader of the process; its library folder is DefaultLibraryFolder().
TFFmpegLoader& FFLoader();
