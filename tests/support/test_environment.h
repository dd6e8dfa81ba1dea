#pragma once

#include <memory>
#include <QString>
#include <QTemporaryDir>

namespace vernalo::test {

// Gives a test process its own temporary home: XDG config, data, state and runtime folders,
// QStandardPaths test mode and a pinned locale, so nothing touches the developer's real files.
class TestEnvironment
{
public:
    // Call before the application object exists.
    static void prepareProcess();
    // The temporary root of this process's folders.
    static QString root();
    // Folder of fixtures checked in under tests/data.
    static QString dataPath(const QString &relative);
};

} // namespace vernalo::test

// Like QTEST_GUILESS_MAIN, with the isolated environment set up first.
#define VERNALO_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        vernalo::test::TestEnvironment::prepareProcess();                                          \
        QCoreApplication app(argc, argv);                                                          \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
