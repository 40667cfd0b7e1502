#pragma once
// The application object the drawing of text and the widgets need, made once per test
// program on the offscreen platform.
#include <QApplication>

inline void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 3;
    static char a0[] = "test_edits", a1[] = "-platform", a2[] = "offscreen";
    static char* argv[] = {a0, a1, a2, nullptr};
    new QApplication(argc, argv);
}
