// Never run: a program linked against the media libraries that reelshift opens with dlopen,
// taking the address of every entry point the loader binds. dpkg-shlibdeps reads it to name
// the library packages, and the least version of each, that the bound entry points need.
#include "engine/LibAVApi.h"

#define RS_ADDRESS(name) reinterpret_cast<const void*>(&::name),
static const void* const bound[] = {
    RS_AVUTIL_ENTRIES(RS_ADDRESS) RS_AVUTIL_VARIABLES(RS_ADDRESS)
    RS_AVCODEC_ENTRIES(RS_ADDRESS) RS_AVCODEC_VARIABLES(RS_ADDRESS)
    RS_AVFORMAT_ENTRIES(RS_ADDRESS) RS_AVFORMAT_VARIABLES(RS_ADDRESS)
    RS_AVFILTER_ENTRIES(RS_ADDRESS) RS_AVFILTER_VARIABLES(RS_ADDRESS)
    RS_SWSCALE_ENTRIES(RS_ADDRESS) RS_SWSCALE_VARIABLES(RS_ADDRESS)
    RS_SWRESAMPLE_ENTRIES(RS_ADDRESS) RS_SWRESAMPLE_VARIABLES(RS_ADDRESS)
    RS_SDL_ENTRIES(RS_ADDRESS) RS_SDL_VARIABLES(RS_ADDRESS)
};

int main() {
    int present = 0;
    for (const void* p : bound) present += p != nullptr;
    return present == int(sizeof bound / sizeof *bound) ? 0 : 1;
}
