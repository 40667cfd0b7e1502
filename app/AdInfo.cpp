#include "app/AdInfo.h"

std::vector<TAdInfo> BuiltInAdInfos() {
    return {
        {"Convert a whole folder of clips in one run: add them all, check the ones you want, press Start.",
         "https://www.zantosoft.com/tips/batch"},
        {"Trim, crop and watermark each file before converting: see the Edit menu.",
         "https://www.zantosoft.com/tips/edits"},
        {"Preview any job in the built-in player and save a snapshot of the frame you like.",
         "https://www.zantosoft.com/tips/snapshots"},
        {"Profiles for phones, players, consoles and DVD/SVCD/VCD discs are in ReelShift Video.",
         "https://www.zantosoft.com/video"},
        {"Keep your computer busy overnight: choose \"Shut down the computer\" when the run ends.",
         "https://www.zantosoft.com/tips/overnight"},
        {"Questions or a file that will not convert? Write to us.", "https://www.zantosoft.com/support"},
        {"New versions are free for registered users: check the web site now and then.",
         "https://www.zantosoft.com/download"},
    };
}
