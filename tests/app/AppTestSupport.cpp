#include "tests/app/AppTestSupport.h"

namespace apptest {

TApplication& App() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // A main window that is shown runs the update check; in tests it must fail at once
        // on loopback instead of reaching the maker's server.
        ::setenv("REELSHIFT_UPDATE_URL", "http://127.0.0.1:9/", 0);
        return new TApplication(argc, argv);
    }();
    return *app;
}

}  // namespace apptest
