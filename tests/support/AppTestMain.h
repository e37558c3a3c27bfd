#pragma once
// main() for tests of the program's windows: the application object as the program
// has it (title, design font, standard error box), and the media framework around it.
#include <QTest>

#include "app/KinoApplication.h"
#include "player/MediaEngine.h"

#define KINO_APP_TEST_MAIN(TestClass)                        \
    int main(int argc, char** argv)                          \
    {                                                        \
        kino::TKinoApplication app(argc, argv);              \
        kino::InitMediaEngine();                             \
        int rc = 0;                                          \
        {                                                    \
            TestClass tc;                                    \
            rc = QTest::qExec(&tc, argc, argv);              \
        }                                                    \
        kino::ShutdownMediaEngine();                         \
        return rc;                                           \
    }
