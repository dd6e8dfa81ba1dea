#include "recording_screen_fixture.h"

#include <functional>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

class RecordingScreensTest : public QObject, protected RecordingScreenFixture
{
    Q_OBJECT

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
    }

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
    }

    // Only the segments' own words count: not their times or speaker labels.
    void wordCountCountsTheSegmentsText_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("counts");
        QTest::newRow("one word") << QStringList {QStringLiteral("Kiitos")}
                                  << QStringLiteral("1 sana • 1 segmenttiä");
        QTest::newRow("two with speakers")
            << QStringList {QStringLiteral("hyvää huomenta"), QStringLiteral(" aloitetaan ")}
            << QStringLiteral("3 sanaa • 2 segmenttiä");
    }

    void wordCountCountsTheSegmentsText()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, counts);
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QList<TranscriptSegment> segments;
        for (const QString &text : texts)
            segments.append({QUuid::createUuid(), text, QDateTime::currentDateTimeUtc(),
                             QStringLiteral("Anna")});
        vm()->segmentModel()->replace(segments);
        QTRY_COMPARE(read(QStringLiteral("transcriptCounts"), "text").toString(), counts);
    }

    // The keyboard alone runs a recording: start, pause, resume, search, stop.
    void shortcutsDriveTheRecording()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        auto *window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        window->requestActivate();
        QTRY_VERIFY(window->isActive());
        const std::pair<Qt::Key, std::function<bool()>> steps[] = {
            {Qt::Key_R, [this] { return vm()->isRecording(); }},
            {Qt::Key_P, [this] { return vm()->isPaused(); }},
            {Qt::Key_P, [this] { return vm()->isRecording() && !vm()->isPaused(); }},
            {Qt::Key_F,
             [this] { return read(QStringLiteral("transcriptSearch"), "activeFocus").toBool(); }},
            {Qt::Key_R, [this] { return !vm()->isRecording() && !vm()->isStoppingRecording(); }},
        };
        for (const auto &[key, reached] : steps) {
            QTest::keyClick(window, key, Qt::ControlModifier);
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    m_clock->advance(200ms);
                    return reached();
                }(),
                10000);
        }
    }

    // The indicator, the elapsed time without the pause, the microphone meter, and the
    // settings that cannot change mid-recording.
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
        CHECKED(stopRecording());
        QVERIFY(!read(QStringLiteral("recordingIndicator"), "visible").toBool());
    }

    // The view follows new text only while it is at the end; search finds and counts rows.
    void transcriptFollowsOnlyAtTheEndAndSearchFindsRows()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QList<TranscriptSegment> segments;
        const QDateTime start = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < 80; ++i)
            segments.append({QUuid::createUuid(), QStringLiteral("rivi %1").arg(i),
                             start.addSecs(i), std::nullopt});
        vm()->segmentModel()->replace(segments);
        QObject *list = find(QStringLiteral("segmentList"));
        QTRY_VERIFY(list->property("atYEnd").toBool());
        QVERIFY(!read(QStringLiteral("newestButton"), "visible").toBool());

        // Scrolled back by hand.
        QMetaObject::invokeMethod(list, "positionViewAtBeginning");
        QMetaObject::invokeMethod(list, "movementEnded");
        QVERIFY(read(QStringLiteral("newestButton"), "visible").toBool());
        vm()->segmentModel()->appendStreamFinal(QStringLiteral("uusi rivi"), start.addSecs(99),
                                                std::nullopt);
        QTRY_COMPARE(list->property("count").toInt(), 81);
        QVERIFY(!list->property("atYEnd").toBool());
        QVERIFY(press(QStringLiteral("newestButton")));
        QTRY_VERIFY(list->property("atYEnd").toBool());

        find(QStringLiteral("transcriptSearch"))->setProperty("text", QStringLiteral("RIVI 7"));
        QTRY_COMPARE(read(QStringLiteral("searchHits"), "text").toString(), QStringLiteral("1/11"));
        // The first hit is shown, so the view no longer follows the end.
        QVERIFY(read(QStringLiteral("newestButton"), "visible").toBool());
    }

    void pauseShowsTheTimerAndResumeHidesIt()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        CHECKED(startRecording());
        CHECKED(speak(500));

        QVERIFY(press(QStringLiteral("pauseButton")));
        QObject *timer = find(QStringLiteral("pauseTimer"));
        QVERIFY(timer->property("visible").toBool());
        QVERIFY(!read(QStringLiteral("pauseButton"), "enabled").toBool());
        QVERIFY(read(QStringLiteral("resumeButton"), "enabled").toBool());
        for (int i = 0; i < 30; ++i)
            m_clock->advance(100ms);
        QCOMPARE(timer->property("text").toString(),
                 QStringLiteral("Tauolla kulunut 00:03 • yhteys pidetään auki"));

        QVERIFY(press(QStringLiteral("resumeButton")));
        // The resume asks the server whether the session still runs before it unmutes.
        QTRY_VERIFY_WITH_TIMEOUT(!vm()->isPaused(), 10000);
        QVERIFY(!timer->property("visible").toBool());
        QVERIFY(vm()->isRecording());
        QVERIFY2(vm()->statusText().startsWith(QStringLiteral("Kuuntelen...")),
                 qPrintable(vm()->statusText()));
        QVERIFY(read(QStringLiteral("pauseButton"), "enabled").toBool());
        CHECKED(stopRecording());
    }

    void deleteRemovesTheRowLocallyAndOnTheServer()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QString first;
        CHECKED(recordOneSession(&first));
        QString second;
        CHECKED(recordOneSession(&second));
        QTRY_COMPARE_WITH_TIMEOUT(sessionRowsOnScreen().size(), 2, 5000);

        // Nothing goes without a second look.
        QVERIFY(press(QStringLiteral("deleteSession_") + first));
        CHECKED(answerDialog(false, QStringLiteral("Poistetaanko sessio?")));
        QCOMPARE(sessionRowsOnScreen().size(), 2);
        // While the server is asked, no second deletion can start.
        bool othersDisabled = false;
        QObject guard;
        connect(vm()->history(), &HistoryState::deletionStateChanged, &guard, [&] {
            if (vm()->history()->isDeletingSessions())
                othersDisabled =
                    !read(QStringLiteral("deleteSession_") + second, "enabled").toBool() &&
                    !read(QStringLiteral("deleteAllSessionsButton"), "enabled").toBool();
        });
        QVERIFY(press(QStringLiteral("deleteSession_") + first));
        CHECKED(answerDialog(true, QStringLiteral("Poistetaanko sessio?")));
        QTRY_COMPARE_WITH_TIMEOUT(sessionRowsOnScreen(), QStringList {second}, 10000);
        QVERIFY(othersDisabled);
        QCOMPARE(vm()->statusText(), QStringLiteral("Sessio poistettu (myös palvelimelta)"));
        QVERIFY(!QFile::exists(QDir(SessionHistoryStore::defaultDirectory())
                                   .filePath(first + QStringLiteral(".json"))));

        QVERIFY(press(QStringLiteral("deleteAllSessionsButton")));
        CHECKED(answerDialog(true, QStringLiteral("Poistetaanko kaikki sessiot?")));
        QCOMPARE(read(QStringLiteral("deleteAllSessionsButton"), "text").toString(),
                 QStringLiteral("Poistetaan..."));
        QTRY_VERIFY_WITH_TIMEOUT(read(QStringLiteral("noSessionsLabel"), "visible").toBool(),
                                 10000);
        QCOMPARE(vm()->statusText(),
                 QStringLiteral("Kaikki sessiot poistettu (myös palvelimelta)"));
        QVERIFY(!read(QStringLiteral("deleteAllSessionsButton"), "visible").toBool());
    }

    void deletingIsRefusedWhileRecording()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QString id;
        CHECKED(recordOneSession(&id));
        CHECKED(startRecording());
        QVERIFY(!press(QStringLiteral("deleteSession_") + id));
        QVERIFY(!press(QStringLiteral("deleteAllSessionsButton")));
        CHECKED(stopRecording());
        QTRY_VERIFY_WITH_TIMEOUT(sessionRowsOnScreen().contains(id), 5000);
    }

    // A session the server holds as stopped but the history never got (the app ended during the
    // stop) comes back when the window is first shown, and only then.
    void firstWindowRecoversCrashedSessionsOnce()
    {
        const QString email = newUser();
        CHECKED(openApp());
        CHECKED(signIn(email));
        QString id;
        CHECKED(recordOneSession(&id));
        QTRY_COMPARE_WITH_TIMEOUT(sessionRowsOnScreen(), QStringList {id}, 5000);
        press(QStringLiteral("logoutButton"));
        QDir(SessionHistoryStore::defaultDirectory()).removeRecursively();

        CHECKED(openApp());
        CHECKED(signIn(email));
        QTRY_COMPARE_WITH_TIMEOUT(sessionRowsOnScreen(), QStringList {id}, 10000);
        QCOMPARE(vm()->statusText(), QStringLiteral("Crash-recovery: palautettu 1 sessiota"));

        // Signing in again in the same run shows the window again, without a second run.
        QVERIFY(press(QStringLiteral("logoutButton")));
        QDir(SessionHistoryStore::defaultDirectory()).removeRecursively();
        vm()->refreshSessionHistory();
        find(QStringLiteral("emailField"))->setProperty("text", email);
        find(QStringLiteral("passwordField"))->setProperty("text", kPassword);
        QVERIFY(press(QStringLiteral("loginButton")));
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QVERIFY(!vm()->history()->isCrashRecoveryRunning());
        QVERIFY(sessionRowsOnScreen().isEmpty());
    }

    void copyPutsTheTranscriptOnTheClipboard()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(!press(QStringLiteral("copyTranscriptButton")));
        QString id;
        CHECKED(recordOneSession(&id));
        QGuiApplication::clipboard()->clear();
        QVERIFY(press(QStringLiteral("copyTranscriptButton")));
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY2(copied.contains(u"hyvää huomenta kaikille") &&
                     copied.contains(u"aloitetaan viikkopalaveri"),
                 qPrintable(copied));
    }

    // Each connection setting action reaches its own setting: a button wired to the wrong
    // action changes another field or none.
    void connectionActionsChangeTheirSetting_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed"); // answer to the prompt; null: no prompt expected
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::newRow("backend prompt, trimmed") << "editBackendURLButton"
                                                 << " http://127.0.0.1:9/stt \n"
                                                 << QString() << "baseURL"
                                                 << "http://127.0.0.1:9/stt";
        QTest::newRow("api key prompt") << "editAPIKeyButton"
                                        << "typed-key-1" << QString() << "apiKey"
                                        << "typed-key-1";
        QTest::newRow("feed prompt")
            << "editUpdateFeedButton"
            << "http://127.0.0.1:9/f.json" << QString() << "updateManifestURL"
            << "http://127.0.0.1:9/f.json";
        QTest::newRow("key from clipboard")
            << "apiKeyFromClipboardButton" << QString() << "  pasted-key-2\n"
            << "apiKey"
            << "pasted-key-2";
        QTest::newRow("default backend") << "defaultBackendButton" << QString() << QString()
                                         << "baseURL" << buildinfo::defaultBackendURL();
        QTest::newRow("default key") << "defaultAPIKeyButton" << QString() << QString() << "apiKey"
                                     << buildinfo::defaultSharedAPIKey();
        QTest::newRow("default feed")
            << "defaultUpdateFeedButton" << QString() << QString() << "updateManifestURL"
            << buildinfo::defaultUpdateManifestURL();
    }

    void connectionActionsChangeTheirSetting()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QString, clipboard);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        {
            // Start from values that differ from every expected one.
            SecureSettings settings;
            STTConfigurationStore store(&settings);
            STTConfiguration config = store.load();
            config.apiKey = QStringLiteral("stored-key-0");
            store.save(config);
        }
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        STTConfigurationStore store(m_context->settings());
        const QVariantMap before = vm()->settings()->configMap();
        vm()->settings()->setProperty("language", QStringLiteral("sv-SE"));
        QGuiApplication::clipboard()->setText(clipboard);

        QVERIFY(press(QStringLiteral("connectionToggle")));
        QVERIFY(press(button));
        if (!typed.isNull()) {
            QObject *dialog = find(QStringLiteral("promptDialog"));
            QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);
            find(QStringLiteral("promptField"))->setProperty("text", typed);
            QVERIFY(press(QStringLiteral("promptAcceptButton")));
        }
        QTRY_COMPARE_WITH_TIMEOUT(vm()->settings()->configMap().value(field).toString(), expected,
                                  5000);
        QCOMPARE(vm()->statusText(), QStringLiteral("Asetukset tallennettu"));
        QCOMPARE(store.load().defaultLanguage, QStringLiteral("sv-SE"));
        for (const QString &other : {QStringLiteral("baseURL"), QStringLiteral("apiKey"),
                                     QStringLiteral("updateManifestURL")}) {
            if (other != field)
                QCOMPARE(vm()->settings()->configMap().value(other), before.value(other));
        }
    }

    void audioTestButtonRunsFiveSecondsAndReports()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(press(QStringLiteral("audioTestButton")));
        QCOMPARE(read(QStringLiteral("audioTestButton"), "text").toString(),
                 QStringLiteral("Äänitesti käynnissä..."));
        QVERIFY(!read(QStringLiteral("audioTestButton"), "enabled").toBool());
        QVERIFY(!read(QStringLiteral("startButton"), "enabled").toBool());
        CHECKED(speak(5000));
        m_clock->advance(5000ms);
        QCOMPARE(vm()->statusText(), QStringLiteral("Äänitesti valmis: taso ok"));
        QVERIFY2(read(QStringLiteral("diagnosticHint"), "text")
                     .toString()
                     .startsWith(QStringLiteral("Äänitesti: frameja 50, mic 50, systeemi 0, avg ")),
                 qPrintable(vm()->diagnosticHint()));
        QCOMPARE(read(QStringLiteral("audioTestButton"), "text").toString(),
                 QStringLiteral("Äänitesti (5 s)"));
        QVERIFY(read(QStringLiteral("startButton"), "enabled").toBool());
        // Nothing went to the backend: no session was made for the test.
        QVERIFY(vm()->sessionId().isEmpty());
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

    // The diagnostics section's buttons reach their own actions; with no package saved yet the
    // open and show actions say so instead of opening anything.
    void diagnosticsActionsReportTheirOutcome_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("clipboardStart"); // null: the clipboard is left alone
        QTest::newRow("support message") << "copySupportTemplateButton"
                                         << "Tukiviestipohja kopioitu leikepöydälle"
                                         << "Hei tuki,\n\nLiitän Vernalo-diagnoosin.";
        QTest::newRow("open newest") << "openDiagnosticsButton"
                                     << "Diagnostiikkatiedostoa ei löytynyt" << QString();
        QTest::newRow("show newest") << "revealDiagnosticsButton"
                                     << "Diagnostiikkatiedostoa ei löytynyt" << QString();
    }

    void diagnosticsActionsReportTheirOutcome()
    {
        QFETCH(QString, button);
        QFETCH(QString, status);
        QFETCH(QString, clipboardStart);
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        QVERIFY(!press(button)); // folded away at first
        QVERIFY(press(QStringLiteral("diagnosticsToggle")));
        QVERIFY(press(button));
        QTRY_COMPARE_WITH_TIMEOUT(vm()->statusText(), status, 5000);
        const QString clipboard = QGuiApplication::clipboard()->text();
        if (clipboardStart.isNull())
            QCOMPARE(clipboard, QStringLiteral("untouched"));
        else
            QVERIFY2(clipboard.startsWith(clipboardStart), qPrintable(clipboard));
    }

    void updateCheckReportsTheServersManifest()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(press(QStringLiteral("checkUpdatesButton")));
        QTRY_COMPARE_WITH_TIMEOUT(
            vm()->statusText(),
            QStringLiteral("Ei uusia päivityksiä (versio %1)").arg(vm()->currentAppVersion()),
            10000);
        QCOMPARE(vm()->currentAppVersion(), buildinfo::version());
    }
};

int main(int argc, char *argv[])
{
    TestEnvironment::prepareProcess();
    QGuiApplication app(argc, argv);
    RecordingScreensTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_recording_screens.moc"
