// What the application shell owes the next user and the user who leaves: a running recording
// is stopped and saved before sign-out, nothing of one user's screens reaches the next, and
// text from a file never turns into links or images.
#include "recording_screen_fixture.h"

using namespace vernalo;
using namespace vernalo::test;

class ShellScreensTest : public QObject, protected RecordingScreenFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<InProcessServer>(kScript);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void init() { QDir(SessionHistoryStore::defaultDirectory()).removeRecursively(); }

    void cleanup()
    {
        m_engine.reset();
        m_context.reset();
    }

    void signOutDuringRecordingAsksThenStopsAndSaves()
    {
        const QString question = QStringLiteral(
            "Tallennus on käynnissä. Lopetetaanko tallennus ja kirjaudutaanko ulos?");
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        CHECKED(startRecording());
        CHECKED(speak(2500));
        QTRY_VERIFY_WITH_TIMEOUT(vm()->transcriptText().contains(u"hyvää huomenta"), 10000);
        const QString id = vm()->sessionId();

        QVERIFY(press(QStringLiteral("logoutButton")));
        CHECKED(answerDialog(false, question));
        QVERIFY(vm()->isRecording());
        QCOMPARE(screen(), QStringLiteral("mainView"));

        QVERIFY(press(QStringLiteral("logoutButton")));
        QCOMPARE(read(QStringLiteral("promptAcceptButton"), "text").toString(),
                 QStringLiteral("Lopeta ja kirjaudu ulos"));
        CHECKED(answerDialog(true, question));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                m_clock->advance(200ms);
                return screen() == u"loginView";
            }(),
            10000);
        QVERIFY(m_audio->openStreams().isEmpty());
        const auto saved = SessionHistoryStore(SessionHistoryStore::defaultDirectory()).load(id);
        QVERIFY(saved && !saved->segments.isEmpty());
        QVERIFY(vm()->sessionId().isEmpty() && vm()->segments().isEmpty());
        QVERIFY(vm()->statusText().isEmpty() && vm()->diagnosticHint().isEmpty());
    }

    void sheetsAndAdminPanelForgetTheLastUser()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QObject *changePassword = screenObject("changePassword");
        QObject *sheet = find(QStringLiteral("changePasswordSheet"));
        QMetaObject::invokeMethod(sheet, "open");
        changePassword->setProperty("changeCurrentPassword", QStringLiteral("vanha-salasana"));
        QMetaObject::invokeMethod(sheet, "close");
        QTRY_COMPARE(changePassword->property("changeCurrentPassword").toString(), QString());

        QObject *admin = screenObject("adminPanel");
        admin->setProperty("adminKey", QStringLiteral("typed-admin-key"));
        admin->setProperty("adminNewUserEmail", QStringLiteral("uusi@vernalo.local"));
        screenObject("passwordReset")->setProperty("resetEmail", QStringLiteral("a@b.fi"));
        QVERIFY(press(QStringLiteral("logoutButton")));
        QTRY_COMPARE(screen(), QStringLiteral("loginView"));
        QCOMPARE(admin->property("adminKey").toString(), QString());
        QCOMPARE(admin->property("adminNewUserEmail").toString(), QString());
        QCOMPARE(screenObject("passwordReset")->property("resetEmail").toString(), QString());
    }

    // A history file is outside text: markup in it shows as typed, never as a live link.
    void transcriptFromAFileIsPlainText()
    {
        const QString markup =
            QString::fromUtf8("<a href=\"https://evil.example/\">Klikkaa tästä</a>"
                              "<img src=\"https://evil.example/x.png\">");
        const QDateTime at(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
        SavedSession session {QStringLiteral("plain-1"), at, at, QStringLiteral("fi-FI"),
                              QStringLiteral("chirp_3"), {}};
        session.segments.append({QUuid::createUuid(), markup, at, std::nullopt});
        QVERIFY(!SessionHistoryStore(SessionHistoryStore::defaultDirectory()).save(session));
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(press(QStringLiteral("loadSession_plain-1")));
        QTRY_VERIFY(transcriptOnScreen().contains(markup));
        QQuickItem *line = nullptr;
        const auto findLine = [&line](QQuickItem *item, const auto &self) -> void {
            if (item->property("text").toString().contains(u"Klikkaa"))
                line = item;
            for (QQuickItem *child : item->childItems())
                self(child, self);
        };
        findLine(qobject_cast<QQuickItem *>(find(QStringLiteral("segmentList"))), findLine);
        QVERIFY(line);
        for (qreal x = 0; x < line->width(); x += 3) {
            QString link;
            QMetaObject::invokeMethod(line, "linkAt", Q_RETURN_ARG(QString, link), Q_ARG(qreal, x),
                                      Q_ARG(qreal, line->height() / 2));
            QVERIFY2(link.isEmpty(), qPrintable(link));
        }
    }
};

int main(int argc, char *argv[])
{
    TestEnvironment::prepareProcess();
    QGuiApplication app(argc, argv);
    ShellScreensTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_shell_screens.moc"
