#include "tests/app/AppTestSupport.h"

namespace apptest {

TApplication& App() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new TApplication(argc, argv);
    }();
    return *app;
}

}  // namespace apptest
