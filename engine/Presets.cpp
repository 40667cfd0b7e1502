#include "engine/Presets.h"

// The speed presets hand x264 its own preset of the same name. A first-pass variant adds
// the settings that make a first pass fast without hurting the second: one reference, no
// 8x8 transform or sub-partitions, diamond search, cheap subpixel refinement, no trellis.
#define RS_FIRST_PASS                                                                             \
    "fastfirstpass=1\n"                                                                           \
    "refs=1\n"                                                                                    \
    "partitions=none\n"                                                                           \
    "me_method=dia\n"                                                                             \
    "subq=2\n"                                                                                    \
    "trellis=0\n"                                                                                 \
    "8x8dct=0\n"                                                                                  \
    "fast-pskip=1\n"

// Constant quantiser 0 is lossless in x264.
#define RS_LOSSLESS "qp=0\n"

// Settings shared by the PSP-class device presets.
#define RS_DEVICE_HEAD(coder)                                                                     \
    "coder=" coder "\n"                                                                           \
    "flags=+loop\n"                                                                               \
    "level=30\n"                                                                                  \
    "cmp=+chroma\n"

#define RS_DEVICE_MOTION                                                                          \
    "me_method=umh\n"                                                                             \
    "subq=7\n"                                                                                    \
    "me_range=16\n"                                                                               \
    "g=250\n"                                                                                     \
    "keyint_min=25\n"                                                                             \
    "sc_threshold=40\n"                                                                           \
    "i_qfactor=0.71\n"                                                                            \
    "b_strategy=1\n"                                                                              \
    "qcomp=0.6\n"                                                                                 \
    "qmin=10\n"                                                                                   \
    "qmax=51\n"                                                                                   \
    "qdiff=4\n"

#define RS_PSP_BODY(maxrate, bitrateLine)                                                         \
    RS_DEVICE_HEAD("1")                                                                           \
    "partitions=+parti4x4+parti8x8+partp8x8+partb8x8\n" RS_DEVICE_MOTION                          \
    "bf=3\n"                                                                                      \
    "refs=1\n"                                                                                    \
    "directpred=1\n"                                                                              \
    "trellis=2\n" bitrateLine "maxrate=" maxrate "\n"                                             \
    "bufsize=4000000\n"                                                                           \
    "bt=256000\n"                                                                                 \
    "sc_threshold=40\n"

const std::vector<TBuiltinPreset>& BuiltinPresets() {
    static const std::vector<TBuiltinPreset> table = {
        {"libx264-baseline", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n"},
        {"libx264-default", "preset=medium\n"},
        {"libx264-fast", "preset=fast\n"},
        {"libx264-fast_firstpass", "preset=fast\n" RS_FIRST_PASS},
        {"libx264-faster", "preset=faster\n"},
        {"libx264-faster_firstpass", "preset=faster\n" RS_FIRST_PASS},
        // The fast first pass of the default settings.
        {"libx264-fastfirstpass", "preset=medium\n" RS_FIRST_PASS},
        {"libx264-hq", "preset=slow\n"},
        {"libx264-ipod320", "profile=baseline\nlevel=13\nmaxrate=768000\nbufsize=3000000\n"},
        {"libx264-ipod640", "profile=baseline\nlevel=30\nmaxrate=10000000\nbufsize=10000000\n"},
        {"libx264-lossless_fast", "preset=fast\n" RS_LOSSLESS},
        {"libx264-lossless_max", "preset=placebo\n" RS_LOSSLESS},
        {"libx264-lossless_medium", "preset=medium\n" RS_LOSSLESS},
        {"libx264-lossless_slow", "preset=slow\n" RS_LOSSLESS},
        {"libx264-lossless_slower", "preset=slower\n" RS_LOSSLESS},
        {"libx264-lossless_ultrafast", "preset=ultrafast\n" RS_LOSSLESS},
        {"libx264-main", "profile=main\n"},
        {"libx264-max", "preset=placebo\n"},
        {"libx264-medium", "preset=medium\n"},
        {"libx264-medium_firstpass", "preset=medium\n" RS_FIRST_PASS},
        {"libx264-normal", "preset=medium\n"},
        {"libx264-placebo", "preset=placebo\n"},
        {"libx264-placebo_firstpass", "preset=placebo\n" RS_FIRST_PASS},
        {"libx264-slow", "preset=slow\n"},
        {"libx264-slow_firstpass", "preset=slow\n" RS_FIRST_PASS},
        {"libx264-slower", "preset=slower\n"},
        {"libx264-slower_firstpass", "preset=slower\n" RS_FIRST_PASS},
        // The first pass of the high-quality settings, run at full quality.
        {"libx264-slowfirstpass", "preset=slow\nfastfirstpass=0\n"},
        {"libx264-superfast", "preset=superfast\n"},
        {"libx264-superfast_firstpass", "preset=superfast\n" RS_FIRST_PASS},
        {"libx264-ultrafast", "preset=ultrafast\n"},
        {"libx264-ultrafast_firstpass", "preset=ultrafast\n" RS_FIRST_PASS},
        {"libx264-veryfast", "preset=veryfast\n"},
        {"libx264-veryfast_firstpass", "preset=veryfast\n" RS_FIRST_PASS},
        {"libx264-veryslow", "preset=veryslow\n"},
        {"libx264-veryslow_firstpass", "preset=veryslow\n" RS_FIRST_PASS},
        {"libx264-psp", RS_PSP_BODY("1500000", "b=1250000\n")},
        {"libx264-ps3", RS_PSP_BODY("3500000", "")},
        {"libx264-ipod", RS_DEVICE_HEAD("0") "partitions=+parti4x4+parti8x8+partp8x8\n" RS_DEVICE_MOTION
                         "refs=1\n"
                         "directpred=1\n"
                         "trellis=2\n"
                         "b=1000000\n"
                         "maxrate=1250000\n"
                         "bufsize=4000000\n"
                         "bt=256000\n"
                         "sc_threshold=40\n"},
        {"libx264-mp4", RS_PSP_BODY("1500000", "b=1250000\n")},
    };
    return table;
}
