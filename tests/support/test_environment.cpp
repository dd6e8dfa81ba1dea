#include "support/test_environment.h"

#include <cstdlib>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>

namespace vernalo::test {

namespace {
QTemporaryDir *rootDir()
{
    // Lives for the whole process; removed at exit.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vernalo-test-XXXXXX"));
    return &dir;
}
} // namespace

void TestEnvironment::prepareProcess()
{
    const QString base = rootDir()->path();
    const struct
    {
        const char *variable;
        const char *folder;
    } folders[] = {{"HOME", "home"},
                   {"XDG_CONFIG_HOME", "config"},
                   {"XDG_DATA_HOME", "data"},
                   {"XDG_STATE_HOME", "state"},
                   {"XDG_CACHE_HOME", "cache"}};
    for (const auto &entry : folders) {
        const QString path = base + QLatin1Char('/') + QLatin1String(entry.folder);
        QDir().mkpath(path);
        qputenv(entry.variable, path.toUtf8());
    }
    const QString runtime = base + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("TZ", qgetenv("TZ").isEmpty() ? QByteArray("UTC") : qgetenv("TZ"));
    qputenv("LC_ALL", "C.UTF-8");
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

QString TestEnvironment::root()
{
    return rootDir()->path();
}

QString TestEnvironment::dataPath(const QString &relative)
{
    QString base = qEnvironmentVariable("VERNALO_TEST_DATA");
    if (base.isEmpty())
        base = QStringLiteral(VERNALO_SOURCE_TESTS_DIR "/data");
    return base + QLatin1Char('/') + relative;
}

} // namespace vernalo::test
