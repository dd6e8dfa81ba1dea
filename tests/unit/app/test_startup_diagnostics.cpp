#include "foundation/app_log.h"
#include "startup_diagnostics.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;

class StartupDiagnosticsTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString makeFolder(const QString &name, const QStringList &fontFiles)
    {
        const QString root = m_dir.filePath(name);
        QDir().mkpath(root);
        if (!fontFiles.isEmpty()) {
            QDir().mkpath(root + "/fonts");
            for (const QString &file : fontFiles) {
                QFile f(root + "/fonts/" + file);
                f.open(QIODevice::WriteOnly);
            }
        }
        return root;
    }
    QStringList logLinesSince(qsizetype offset)
    {
        const QString log = AppLog::snapshot(1 << 20).mid(offset);
        QStringList lines;
        for (const QString &line : log.split('\n', Qt::SkipEmptyParts))
            lines << line.section(' ', 1); // drop the time stamp
        return lines;
    }

private Q_SLOTS:
    void firstFolderWithFontsIsUsed()
    {
        const QString empty = makeFolder("a", {});
        const QString installed = makeFolder("b", {"Inter-Regular.otf", "Inter-Black.otf"});
        const QString later = makeFolder("c", {"Inter-Medium.otf"});
        const qsizetype offset = AppLog::snapshot(1 << 20).size();
        const auto scan = scanStartupResources({empty, m_dir.filePath("missing"), installed, later},
                                               "com.kestrova.vernalo", "1.2.3", "42");
        QCOMPARE(scan.candidates, (QStringList {empty, installed, later}));
        QCOMPARE(scan.resourceRoot, installed);
        QCOMPARE(scan.fonts.size(), 2);
        QCOMPARE(scan.fonts[0].label, QStringLiteral("font-regular"));
        QCOMPARE(scan.fonts[1].label, QStringLiteral("font-black"));

        const QStringList lines = logLinesSince(offset);
        QCOMPARE(lines.first(),
                 QStringLiteral("startup begin bundleId=com.kestrova.vernalo version=1.2.3 "
                                "build=42 resourceRoot=%1")
                     .arg(installed));
        QVERIFY(lines.contains(
            QStringLiteral("startup resources font-medium=missing path=%1/fonts/Inter-Medium.otf")
                .arg(installed)));
        QCOMPARE(lines.last(), QStringLiteral("startup pre-ui resource scan complete"));
    }

    void noResourcesStillCompletesTheScan()
    {
        const auto scan = scanStartupResources({m_dir.filePath("nothing-here")}, "id", "1", "-");
        QVERIFY(scan.resourceRoot.isEmpty());
        QVERIFY(scan.fonts.isEmpty());
    }
};

VERNALO_TEST_MAIN(StartupDiagnosticsTest)
#include "test_startup_diagnostics.moc"
