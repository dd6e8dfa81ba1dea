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
        QDir().mkpath(fontFiles.isEmpty() ? root : root + "/fonts");
        for (const QString &file : fontFiles)
            QFile(root + "/fonts/" + file).open(QIODevice::WriteOnly);
        return root;
    }

private Q_SLOTS:
    void firstFolderWithFontsIsUsed()
    {
        const QString empty = makeFolder("a", {});
        const QString installed = makeFolder("b", {"Inter-Regular.otf", "Inter-Black.otf"});
        const QString later = makeFolder("c", {"Inter-Medium.otf"});
        const auto scan = scanStartupResources({empty, m_dir.filePath("missing"), installed, later},
                                               "com.kestrova.vernalo", "1.2.3", "42");
        QCOMPARE(scan.candidates, (QStringList {empty, installed, later}));
        QCOMPARE(scan.resourceRoot, installed);
        QCOMPARE(scan.fonts.size(), 2);
        QCOMPARE(scan.fonts[0].label, QStringLiteral("font-regular"));
        QCOMPARE(scan.fonts[1].label, QStringLiteral("font-black"));

        // A folder without fonts is no resource root.
        const auto none = scanStartupResources({empty}, "id", "1", "-");
        QVERIFY(none.resourceRoot.isEmpty());
        QVERIFY(none.fonts.isEmpty());
    }
};

VERNALO_TEST_MAIN(StartupDiagnosticsTest)
#include "test_startup_diagnostics.moc"
