#pragma once

#include <QObject>

// Each QtTest class registers itself; the test binary runs the one named on
// its command line (ctest runs each as its own test), or all of them.
using UiTestFactory = QObject* (*)();
int RegisterUiTest(const char* name, UiTestFactory factory);

#define PELVANE_UI_TEST(Class) \
    static const int Class##Registered = RegisterUiTest(#Class, []() -> QObject* { return new Class; })
