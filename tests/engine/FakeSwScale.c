/* A stand-in for libswscale used by the loader tests: it reports the version the tests ask
   for (FAKE_SWSCALE_VERSION, default the headers' own) and exports every entry point the
   program binds except sws_scale, plus one variable. */
#include <stdlib.h>

#include <libswscale/version.h>

unsigned swscale_version(void) {
    const char* v = getenv("FAKE_SWSCALE_VERSION");
    return v ? (unsigned)strtoul(v, NULL, 0) : LIBSWSCALE_VERSION_INT;
}

int fake_swscale_variable = 42;

#define FAKE(name) \
    void name(void); \
    void name(void) {}
FAKE(sws_getContext) FAKE(sws_getCachedContext) FAKE(sws_freeContext)
FAKE(sws_scale_frame) FAKE(sws_isSupportedInput) FAKE(sws_isSupportedOutput) FAKE(sws_get_class)
FAKE(sws_alloc_context) FAKE(sws_init_context) FAKE(sws_setColorspaceDetails) FAKE(sws_getCoefficients)
