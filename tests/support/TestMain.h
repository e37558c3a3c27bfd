#pragma once
// main() for tests that create players: the media framework is started before the
// first window and shut down after the last, as the program itself does.
#include <QCoreApplication>
#include <QTest>
#if __has_include(<QApplication>)
#include <QApplication>
#endif

#include "player/engine/MediaFramework.h"
#include "support/GstLeaks.h"

// KINO_TEST_MAIN_WITH(AppClass, TestClass): the same with another application class.
#define KINO_TEST_MAIN_WITH(AppClass, TestClass)                                                                       \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        AppClass app(argc, argv);                                                                                      \
        kino::InitMediaEngine();                                                                                       \
        int rc = 0;                                                                                                    \
        {                                                                                                              \
            TestClass tc;                                                                                              \
            rc = QTest::qExec(&tc, argc, argv);                                                                        \
        }                                                                                                              \
        if (gstleaks::ReportLeaks() > 0 && rc == 0)                                                                    \
            rc = 1;                                                                                                    \
        kino::ShutdownMediaEngine();                                                                                   \
        return rc;                                                                                                     \
    }

#define KINO_TEST_MAIN_WITH_MEDIA(TestClass) KINO_TEST_MAIN_WITH(QApplication, TestClass)
// For the engine and what lies beneath it: no window, not even a toolkit for one.
#define KINO_ENGINE_TEST_MAIN(TestClass) KINO_TEST_MAIN_WITH(QCoreApplication, TestClass)

// The folder of the media the tests play (made by tests/fixtures).
inline QString FixturePath(const QString& name)
{
    return qEnvironmentVariable("KINO_FIXTURES") + QLatin1Char('/') + name;
}
inline std::string Fixture(const std::string& name)
{
    return FixturePath(QString::fromStdString(name)).toStdString();
}
