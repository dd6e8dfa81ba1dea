// The application's own screens over its own core objects, driven the way a user drives them:
// sign-in and the root switch, a recording with pause, search, deletion and sign-out, the
// settings actions, layout and accessible names, and the documentation tour.
#include "recording_screen_fixture.h"

#include <functional>
#include <QAccessible>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

class ScreensTest : public QObject, protected RecordingScreenFixture
{
    Q_OBJECT

    // Every screen the root switch showed since watchScreens(), in order.
    QStringList m_shown;

    void watchScreens()
    {
        m_shown = QStringList {screen()};
        connect(find(QStringLiteral("rootLoader")), SIGNAL(itemChanged()), this,
                SLOT(recordScreen()));
    }

    // Visible interactive controls under the item that lack an accessible name or an object
    // name (the handle tests and scripts reach them by).
    static void collectUnnamed(QQuickItem *item, QStringList *unnamed)
    {
        if (!item->isVisible())
            return;
        const QAccessible::Role role = QAccessible::queryAccessibleInterface(item)
            ? QAccessible::queryAccessibleInterface(item)->role()
            : QAccessible::NoRole;
        static const QList<QAccessible::Role> interactive = {
            QAccessible::Button,   QAccessible::CheckBox,     QAccessible::RadioButton,
            QAccessible::ComboBox, QAccessible::EditableText, QAccessible::Slider,
            QAccessible::Link};
        if (interactive.contains(role) &&
            (QAccessible::queryAccessibleInterface(item)->text(QAccessible::Name).isEmpty() ||
             item->objectName().isEmpty()))
            unnamed->append(
                QStringLiteral("%1 (%2)").arg(item->objectName(), item->metaObject()->className()));
        for (QQuickItem *child : item->childItems())
            collectUnnamed(child, unnamed);
    }

public Q_SLOTS:
    void recordScreen() { m_shown.append(screen()); }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<InProcessServer>(kScript);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void init()
    {
        // Each test starts with an empty local history and the stored settings of a first start.
        QDir(SessionHistoryStore::defaultDirectory()).removeRecursively();
        SecureSettings().remove(QLatin1String(STTConfigurationStore::kKey));
        m_spokenSamples = 0;
    }

    void cleanup()
    {
        if (m_engine && screen() == u"mainView" && !vm()->isRecording())
            press(QStringLiteral("logoutButton"));
        m_engine.reset();
        m_context.reset();
        qunsetenv("VERNALO_INAPP_ADMIN_ENABLED");
    }

    // A recording's text on screen, the session listed after the stop, and its deletion.
    void recordingShowsTheTranscriptAndListsTheSessionAfterStop()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(read(QStringLiteral("noSessionsLabel"), "visible").toBool());

        CHECKED(startRecording());
        QVERIFY(read(QStringLiteral("stopButton"), "enabled").toBool());
        QVERIFY(!read(QStringLiteral("saveTranscriptButton"), "enabled").toBool());
        CHECKED(speak(2500));
        QTRY_VERIFY_WITH_TIMEOUT(transcriptOnScreen().contains(u"hyvää huomenta kaikille"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(transcriptOnScreen().contains(u"aloitetaan viikkopalaveri"),
                                 10000);
        const QString id = vm()->sessionId();
        QVERIFY(!id.isEmpty());
        QCOMPARE(read(QStringLiteral("sessionIdLabel"), "text").toString(),
                 QStringLiteral("Sessio: ") + id);

        CHECKED(stopRecording());
        QCOMPARE(vm()->statusText(), QStringLiteral("Pysäytetty"));
        QTRY_COMPARE_WITH_TIMEOUT(sessionRowsOnScreen(), QStringList {id}, 5000);
        QVERIFY(!read(QStringLiteral("noSessionsLabel"), "visible").toBool());
        QVERIFY(read(QStringLiteral("sessionLabel_") + id, "text")
                    .toString()
                    .endsWith(QStringLiteral(" • 2 segmenttiä")));
        // The text stays on screen after the stop and can now be saved or made into a memo.
        QVERIFY2(transcriptOnScreen().contains(u"Anna: hyvää huomenta kaikille"),
                 qPrintable(transcriptOnScreen()));
        QVERIFY(read(QStringLiteral("saveTranscriptButton"), "enabled").toBool());
        QVERIFY(read(QStringLiteral("startButton"), "enabled").toBool());

        // Nothing is deleted without a second look; then the row goes here and on the server.
        QVERIFY(press(QStringLiteral("deleteSession_") + id));
        CHECKED(answerDialog(false, QStringLiteral("Poistetaanko sessio?")));
        QCOMPARE(sessionRowsOnScreen(), QStringList {id});
        QVERIFY(press(QStringLiteral("deleteSession_") + id));
        CHECKED(answerDialog(true, QStringLiteral("Poistetaanko sessio?")));
        QTRY_VERIFY_WITH_TIMEOUT(read(QStringLiteral("noSessionsLabel"), "visible").toBool(),
                                 10000);
        QCOMPARE(vm()->statusText(), QStringLiteral("Sessio poistettu (myös palvelimelta)"));
        QVERIFY(!QFile::exists(
            QDir(SessionHistoryStore::defaultDirectory()).filePath(id + QStringLiteral(".json"))));
    }

    // The keyboard alone runs a recording: start, pause, resume, search, stop.
    void shortcutsDriveTheRecording()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        window()->requestActivate();
        QTRY_VERIFY(window()->isActive());
        const std::pair<Qt::Key, std::function<bool()>> steps[] = {
            {Qt::Key_R, [this] { return vm()->isRecording(); }},
            {Qt::Key_P, [this] { return vm()->isPaused(); }},
            {Qt::Key_P, [this] { return vm()->isRecording() && !vm()->isPaused(); }},
            {Qt::Key_F,
             [this] { return read(QStringLiteral("transcriptSearch"), "activeFocus").toBool(); }},
            {Qt::Key_R, [this] { return !vm()->isRecording() && !vm()->isStoppingRecording(); }},
        };
        for (const auto &[key, reached] : steps) {
            QTest::keyClick(window(), key, Qt::ControlModifier);
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    m_clock->advance(200ms);
                    return reached();
                }(),
                10000);
        }
    }

    // The indicator, the elapsed time without the pause, the pause timer, the microphone meter,
    // and the settings that cannot change mid-recording.
    void recordingStateShowsAtAGlance()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(!read(QStringLiteral("recordingIndicator"), "visible").toBool());
        CHECKED(startRecording());
        QVERIFY(read(QStringLiteral("recordingIndicator"), "visible").toBool());
        QCOMPARE(read(QStringLiteral("recordingStateLabel"), "text").toString(),
                 QStringLiteral("Tallennetaan"));
        QVERIFY(!read(QStringLiteral("languageBox"), "enabled").toBool());
        QVERIFY(!read(QStringLiteral("modelBox"), "enabled").toBool());
        QCOMPARE(read(QStringLiteral("microphoneMeter"), "level").toDouble(), 0.0);
        CHECKED(speak(500));
        QTRY_VERIFY(read(QStringLiteral("microphoneMeter"), "level").toDouble() > 0.01);
        for (int i = 0; i < 3; ++i)
            m_clock->advance(1s);
        QCOMPARE(read(QStringLiteral("elapsedLabel"), "text").toString(), QStringLiteral("00:03"));
        QVERIFY(press(QStringLiteral("pauseButton")));
        for (int i = 0; i < 5; ++i)
            m_clock->advance(1s);
        QCOMPARE(read(QStringLiteral("elapsedLabel"), "text").toString(), QStringLiteral("00:03"));
        QCOMPARE(read(QStringLiteral("recordingStateLabel"), "text").toString(),
                 QStringLiteral("Tauolla"));
        QCOMPARE(read(QStringLiteral("pauseTimer"), "text").toString(),
                 QStringLiteral("Tauolla kulunut 00:05 • yhteys pidetään auki"));
        QVERIFY(!read(QStringLiteral("pauseButton"), "enabled").toBool());
        QVERIFY(press(QStringLiteral("resumeButton")));
        // The resume asks the server whether the session still runs before it unmutes.
        QTRY_VERIFY_WITH_TIMEOUT(!vm()->isPaused(), 10000);
        QVERIFY(!read(QStringLiteral("pauseTimer"), "visible").toBool());
        CHECKED(stopRecording());
        QVERIFY(!read(QStringLiteral("recordingIndicator"), "visible").toBool());
    }

    // The documentation tour walks the same screens by their object names; a renamed control
    // or a step that never arrives shows here rather than in a broken `./dev screenshots`.
    void screenshotTourWritesEveryPicture()
    {
        const QString email = newUser();
        CHECKED(openApp(true));
        QTemporaryDir folder;
        ScreenshotTour::Options options;
        options.outputDirectory = folder.path();
        options.email = email;
        options.password = kPassword;
        options.recordingSeconds = 3;
        ScreenshotTour tour(m_engine.get(), m_context.get(), options);
        std::optional<QStringList> written;
        const auto runTour = [&]() -> QCoro::Task<> { written = co_await tour.run(); };
        runTour();
        // The tour paces itself by the clock; real socket traffic runs in between.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                m_clock->advance(100ms);
                return written.has_value();
            }(),
            60000);
        QVERIFY2(!written->isEmpty(), qPrintable(tour.error()));

        QStringList names;
        for (const QString &path : *written) {
            names.append(QFileInfo(path).fileName());
            const QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QCOMPARE(image.size(),
                     qobject_cast<QQuickWindow *>(m_engine->rootObjects().first())->size() *
                         image.devicePixelRatio());
        }
        QCOMPARE(
            names,
            (QStringList {"01-sign-in.png", "02-main-idle.png", "03-recording.png", "04-paused.png",
                          "05-search.png", "06-history.png", "07-session-search.png"}));
        QVERIFY(vm()->history()->model()->count() == 1);
        QVERIFY(vm()->transcriptText().contains(u"hyvää huomenta kaikille"));
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

    void wrongPasswordShowsTheServersErrorAndStaysSignedOut()
    {
        CHECKED(openApp());
        CHECKED(typeSignIn(newUser(), QStringLiteral("not-the-password")));
        QTRY_VERIFY_WITH_TIMEOUT(!read(QStringLiteral("loginError"), "text").toString().isEmpty(),
                                 10000);
        QVERIFY(read(QStringLiteral("loginError"), "visible").toBool());
        QCOMPARE(screen(), QStringLiteral("loginView"));
    }

    void rememberedTokenOpensTheMainWindowWithoutSignIn()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser(), true));
        CHECKED(openApp());
        watchScreens();
        QCOMPARE(m_shown.value(0), QStringLiteral("checkingView"));
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QVERIFY2(!m_shown.contains(QStringLiteral("loginView")), qPrintable(m_shown.join(' ')));
        // Signing out returns to the sign-in screen at once.
        QVERIFY(press(QStringLiteral("logoutButton")));
        QCOMPARE(screen(), QStringLiteral("loginView"));
    }

    void adminPanelNeedsTheExactSwitchAndAnAdmin_data()
    {
        QTest::addColumn<QByteArray>("flag");
        QTest::addColumn<QString>("role");
        QTest::newRow("'true' is not on") << QByteArray("true") << "admin";
        QTest::newRow("on, plain user") << QByteArray("1") << "user";
    }
    void adminPanelNeedsTheExactSwitchAndAnAdmin()
    {
        QFETCH(QByteArray, flag);
        QFETCH(QString, role);
        qputenv("VERNALO_INAPP_ADMIN_ENABLED", flag);
        CHECKED(openApp());
        CHECKED(signIn(newUser(role)));
        QVERIFY(!read(QStringLiteral("adminCard"), "visible").toBool());
    }

    // With the admin panel on: the control card stays whole on top, the transcript takes at
    // least half the height beside the side panel, every section can be scrolled into view, no
    // button leaves the window, and every control has an accessible name.
    void mainWindowFitsEverySize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest") << QSize(1024, 700);
        QTest::newRow("large") << QSize(2560, 1440);
    }
    void mainWindowFitsEverySize()
    {
        QFETCH(QSize, size);
        qputenv("VERNALO_INAPP_ADMIN_ENABLED", "1");
        CHECKED(openApp());
        window()->resize(size);
        QStringList unnamed;
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("loginView"), 10000);
        collectUnnamed(window()->contentItem(), &unnamed);
        CHECKED(signIn(newUser(QStringLiteral("admin"))));
        QTRY_VERIFY_WITH_TIMEOUT(read(QStringLiteral("adminCard"), "visible").toBool(), 10000);
        // The advanced sections start folded; their controls are named all the same.
        QVERIFY(press(QStringLiteral("diagnosticsToggle")) &&
                press(QStringLiteral("connectionToggle")));
        QVERIFY(read(QStringLiteral("apiKeyFromClipboardButton"), "visible").toBool());

        const auto sceneBox = [this](const QString &name) {
            auto *item = qobject_cast<QQuickItem *>(find(name));
            return item ? item->mapRectToScene(item->boundingRect()) : QRectF();
        };
        QTRY_VERIFY(sceneBox("transcriptCard").height() >= 0.5 * size.height());
        const QRectF control = sceneBox("controlCard");
        const QRectF transcript = sceneBox("transcriptCard");
        QVERIFY(QRectF(QPointF(0, 0), QSizeF(size)).contains(control.united(transcript)));
        QVERIFY(control.bottom() <= transcript.top());
        QVERIFY(transcript.right() <= sceneBox("mainScroll").left());
        auto *flick = read(QStringLiteral("mainScroll"), "contentItem").value<QQuickItem *>();
        QVERIFY(flick);
        QTRY_VERIFY(flick->property("contentHeight").toDouble() > 0);
        for (const QString section : {"historyCard", "connectionCard", "diagnosticsCard"}) {
            QVariant found;
            QMetaObject::invokeMethod(find(QStringLiteral("mainView")), "scrollToSection",
                                      Q_RETURN_ARG(QVariant, found), Q_ARG(QVariant, section));
            QVERIFY2(found.toBool(), qPrintable(section));
            auto *card = qobject_cast<QQuickItem *>(find(section));
            const QRectF inView = card->mapRectToItem(flick, card->boundingRect());
            QVERIFY2(inView.top() >= -0.5 && inView.top() < flick->height(), qPrintable(section));
        }

        // A picture makes every layout settle first.
        window()->grabWindow();
        QStringList outside;
        const std::function<void(QQuickItem *)> walk = [&](QQuickItem *item) {
            if (!item->isVisible())
                return;
            if (item->inherits("QQuickAbstractButton") &&
                item->mapRectToScene(item->boundingRect()).right() > window()->width() + 0.5)
                outside.append(item->objectName());
            for (QQuickItem *child : item->childItems())
                walk(child);
        };
        walk(window()->contentItem());
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral(", "))));
        collectUnnamed(window()->contentItem(), &unnamed);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    }
};

int main(int argc, char *argv[])
{
    TestEnvironment::prepareProcess();
    QGuiApplication app(argc, argv);
    // Controls build their accessible interfaces only while something listens.
    QAccessible::setActive(true);
    ScreensTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_screens.moc"
