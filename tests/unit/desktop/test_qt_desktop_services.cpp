#include "desktop/qt_desktop_services.h"
#include "desktop/sound_settings.h"
#include "support/test_environment.h"

#include <qcoro/qcorotask.h>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;

class QtDesktopServicesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void promptPublishesRequestAndResumesOnAnswer()
    {
        QtDesktopServices services;
        QSignalSpy requests(&services, &QtDesktopServices::dialogRequested);
        TextPromptRequest request;
        request.informativeText = QStringLiteral("Syötä x-api-key.");
        request.secure = true;
        auto task = services.promptText(request);
        QCOMPARE(requests.size(), 1);
        const int id = requests[0][0].toInt();
        QCOMPARE(requests[0][1].toString(), QStringLiteral("prompt"));
        const QVariantMap fields = requests[0][2].toMap();
        QCOMPARE(fields.value("informativeText").toString(), request.informativeText);
        QCOMPARE(fields.value("secure").toBool(), true);
        QVERIFY(!task.isReady());

        services.respond(id + 100, true, QStringLiteral("wrong dialog"));
        QCoreApplication::processEvents();
        QVERIFY(!task.isReady());

        services.respond(id, true, QStringLiteral("new key"));
        const auto answer = QCoro::waitFor(task);
        QCOMPARE(answer, std::optional<QString>(QStringLiteral("new key")));
        QCOMPARE(services.pendingRequestCount(), 0);

        // A cancelled prompt gives no value, whatever was typed.
        auto cancelled = services.promptText(TextPromptRequest {});
        services.respond(requests[1][0].toInt(), false, QStringLiteral("typed but cancelled"));
        QCOMPARE(QCoro::waitFor(cancelled), std::optional<QString>());
    }

    void concurrentDialogsAnsweredOutOfOrder()
    {
        QtDesktopServices services;
        QSignalSpy requests(&services, &QtDesktopServices::dialogRequested);
        auto first =
            services.confirm(ConfirmRequest {QStringLiteral("Poista"), QStringLiteral("?")});
        SaveDialogRequest save;
        save.suggestedFileName = QStringLiteral("istunto.txt");
        save.directory = QStringLiteral("/tmp");
        auto second = services.chooseSaveFile(save);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1][2].toMap().value("directory").toString(),
                 QStringLiteral("file:///tmp"));

        services.respond(requests[1][0].toInt(), true, QStringLiteral("file:///tmp/istunto.txt"));
        QCOMPARE(QCoro::waitFor(second),
                 std::optional<QString>(QStringLiteral("/tmp/istunto.txt")));
        QVERIFY(!first.isReady());
        services.respond(requests[0][0].toInt(), false);
        QCOMPARE(QCoro::waitFor(first), false);
    }

    void soundSettingsChoice_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        // clang-format off
        QTest::newRow("gnome first") << QStringList {"pavucontrol", "gnome-control-center"} << "/usr/bin/gnome-control-center" << QStringList {"sound"};
        QTest::newRow("kde") << QStringList {"systemsettings", "pavucontrol"} << "/usr/bin/systemsettings" << QStringList {"kcm_pulseaudio"};
        QTest::newRow("mixer only") << QStringList {"pavucontrol"} << "/usr/bin/pavucontrol" << QStringList {};
        QTest::newRow("nothing") << QStringList {} << QString() << QStringList {};
        // clang-format on
    }
    void soundSettingsChoice()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const auto command = soundSettingsCommand([&](const QString &name) {
            return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        });
        QCOMPARE(command.has_value(), !program.isEmpty());
        if (command) {
            QCOMPARE(command->program, program);
            QCOMPARE(command->arguments, arguments);
        }
    }
};

VERNALO_TEST_MAIN(QtDesktopServicesTest)
#include "test_qt_desktop_services.moc"
