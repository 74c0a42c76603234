#pragma once

#include "app/logformat.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

namespace TestSupport {
// Drops the headless platform's notices about size hints and raising windows, which say
// nothing about the program; every other message reaches Qt Test, which fails the run on warnings.
void installPlatformNoiseFilter();

// A blocking dialog in a test would wait for ever: each is answered at once instead.
// Questions and notes are recorded as "title: text"; a question gets confirmAnswer, a
// file dialog fileAnswer.
struct Dialogs {
    static QStringList shown;
    static bool confirmAnswer;
    static QString fileAnswer;
    static void install();
};
}

// Runs a Qt Test class headless, with the user's settings, data and update locks kept in
// private folders that disappear afterwards (test programs running side by side flash the
// same simulated unit).
#define TESSARO_TEST_MAIN(TestClass)                                                     \
    int main(int argc, char* argv[])                                                     \
    {                                                                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                              \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                     \
        QTemporaryDir configHome;                                                        \
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());                     \
        QTemporaryDir dataHome;                                                          \
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());                         \
        QTemporaryDir runtimeDir;                                                        \
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());                     \
        installLogFormat();                                                              \
        QApplication application(argc, argv);                                            \
        TestClass test;                                                                  \
        QTest::qInit(&test, argc, argv);                                                 \
        TestSupport::installPlatformNoiseFilter();                                       \
        TestSupport::Dialogs::install();                                                 \
        const int failures = QTest::qRun();                                              \
        QTest::qCleanup();                                                               \
        return failures;                                                                 \
    }
