// The main of every widget test: GoogleTest inside a QApplication. Without a
// platform named in the environment the tests run offscreen, so they need no display.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "desktop_notice.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Downloads finish in these tests: none may reach the desktop of whoever runs them.
    sendDesktopNotice = nullptr;
    return RUN_ALL_TESTS();
}
