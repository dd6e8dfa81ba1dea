// The application's own screens over its own core objects, driven the way a user drives them:
// sign-in and the root switch, a recording with pause, search, deletion and sign-out, the
// settings actions, layout and accessible names, and the documentation tour.
#include "app_context.h"
#include "demo_audio_system.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "recording/session_history_model.h"
#include "recording/transcription_view_model.h"
#include "screenshot_tour.h"
#include "server_test_support.h"
#include "sessions/session_history_store.h"
#include "support/checked.h"
#include "support/fake_audio_system.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "user_store.h"

#include <functional>
#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(VernaloPlugin)

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kPassword = QStringLiteral("secret-pass");
constexpr quint32 kMicrophoneId = 21;

// What the reference server's script recognizer "hears" at these offsets of received audio.
const QString kScript = QStringLiteral("0.8 [Anna] hyvää huomenta kaikille\n"
                                       "1.6 aloitetaan viikkopalaveri\n");

// Visits the item and, while `visit` says so, the items under it, depth first.
void visitItems(QQuickItem *item, const std::function<bool(QQuickItem *)> &visit)
{
    if (visit(item)) {
        for (QQuickItem *child : item->childItems())
            visitItems(child, visit);
    }
}

} // namespace

// The main window driven like a user drives it: controls found by object name and pressed
// through their own signals, over the real core, a scripted sound server, virtual time for the
// controller's timers and the reference server (script recognizer) on 127.0.0.1.
class ScreensTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    FakeAudioSystem *m_audio = nullptr;
    FakeClock *m_clock = nullptr;
    int m_userCount = 0;
    qint64 m_spokenSamples = 0;
    // Every screen the root switch showed since watchScreens(), in order.
    QStringList m_shown;

    TranscriptionViewModel *vm() const { return m_context->transcription(); }
    QQuickWindow *window() const
    {
        return qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    }

    // A user of its own for every test, so sessions an earlier test left on the server are
    // never recovered into this one's history.
    QString newUser(const QString &role = QStringLiteral("user"))
    {
        const QString email = QStringLiteral("rec%1@vernalo.local").arg(++m_userCount);
        m_server->server().users().createUser(email, kPassword, role);
        return email;
    }

    // With the scripted sound server, or with the synthetic voice when `demoVoice` is set.
    void openApp(bool demoVoice = false)
    {
        m_engine.reset();
        m_context.reset();
        auto clock = std::make_unique<FakeClock>();
        m_clock = clock.get();
        auto scripted = std::make_unique<FakeAudioSystem>();
        scripted->addSource(kMicrophoneId, QStringLiteral("Desk Mic"), QStringLiteral("usb"));
        scripted->defaultSourceId = kMicrophoneId;
        scripted->streamFormatName = QStringLiteral("s16le");
        scripted->streamBitsPerSample = 16;
        m_audio = demoVoice ? nullptr : scripted.get();
        std::unique_ptr<AudioSystem> audio = demoVoice
            ? std::unique_ptr<AudioSystem>(std::make_unique<DemoAudioSystem>(m_clock))
            : std::move(scripted);
        const QString url = m_server->baseUrl().toString();
        m_context = std::make_unique<AppContext>(BackendOverride {url, url}, std::move(audio),
                                                 std::move(clock));
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_context->exposeTo(m_engine.get());
        m_engine->load(AppContext::mainScreenUrl());
        QVERIFY(!m_engine->rootObjects().isEmpty());
    }

    // Searches the object tree and the visual tree: items a Repeater made hang only in the
    // latter.
    QObject *find(const QString &name) const
    {
        QObject *found =
            window()->objectName() == name ? window() : window()->findChild<QObject *>(name);
        visitItems(window()->contentItem(), [&](QQuickItem *item) {
            found = found ? found : item->objectName() == name ? item : nullptr;
            return !found;
        });
        return found;
    }

    // A property of a named object; an invalid value when there is no such object.
    QVariant read(const QString &name, const char *property) const
    {
        QObject *object = find(name);
        return object ? object->property(property) : QVariant();
    }
    QObject *screenObject(const char *name) const
    {
        return m_context->property(name).value<QObject *>();
    }
    QString screen() const
    {
        auto *item = read(QStringLiteral("rootLoader"), "item").value<QObject *>();
        return item ? item->objectName() : QString();
    }
    void watchScreens()
    {
        m_shown = QStringList {screen()};
        connect(find(QStringLiteral("rootLoader")), SIGNAL(itemChanged()), this,
                SLOT(recordScreen()));
    }

    // Presses a button the way a pointer click ends: only when it is shown and enabled.
    bool press(const QString &name)
    {
        QObject *button = find(name);
        return button && button->property("visible").toBool() &&
            button->property("enabled").toBool() && QMetaObject::invokeMethod(button, "clicked");
    }

    // Fills the sign-in screen and presses its button.
    void typeSignIn(const QString &email, const QString &password = kPassword,
                    bool remember = false)
    {
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("loginView"), 10000);
        find(QStringLiteral("emailField"))->setProperty("text", email);
        find(QStringLiteral("passwordField"))->setProperty("text", password);
        find(QStringLiteral("rememberBox"))->setProperty("checked", remember);
        QVERIFY(press(QStringLiteral("loginButton")));
    }
    void signIn(const QString &email, bool remember = false)
    {
        CHECKED(typeSignIn(email, kPassword, remember));
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        // The start-up recovery asks the server once; let it finish before anything else.
        QTRY_VERIFY_WITH_TIMEOUT(!vm()->history()->isCrashRecoveryRunning(), 10000);
    }

    // Hands the open microphone stream `ms` milliseconds of a voiced, syllable-shaped signal,
    // 100 ms at a time, as the sound server would.
    void speak(int ms)
    {
        QVERIFY(m_audio->lastStream() && !m_audio->lastStream()->isClosed());
        for (int done = 0; done < ms; done += 100, m_spokenSamples += 1600)
            m_audio->lastStream()->deliver(
                {SyntheticCaptureStream::render(SyntheticCaptureStream::Voice::Speech,
                                                m_spokenSamples, 100),
                 SampleFormat::Int16, 1, 16000.0});
    }

    // The text the transcript card shows: every line of its list, final and interim.
    QString transcriptOnScreen() const
    {
        QStringList lines;
        if (auto *list = qobject_cast<QQuickItem *>(find(QStringLiteral("segmentList"))))
            visitItems(list, [&lines](QQuickItem *item) {
                if (item->isVisible() && !item->property("text").toString().isEmpty())
                    lines.append(item->property("text").toString());
                return true;
            });
        return lines.join(QLatin1Char('\n'));
    }

    void startRecording()
    {
        QVERIFY(press(QStringLiteral("startButton")));
        QTRY_VERIFY2_WITH_TIMEOUT(vm()->isRecording(), qPrintable(vm()->statusText()), 10000);
        QVERIFY(!read(QStringLiteral("startButton"), "enabled").toBool());
    }

    // Advances virtual time in steps (the grace for the last finals of a stop, the tour's own
    // pace) while real socket traffic runs, until the condition holds.
    bool advanceUntil(const std::function<bool()> &reached, int timeoutMs = 10000,
                      std::chrono::milliseconds step = 200ms)
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QTest::qWait(50)) {
            m_clock->advance(step);
            if (reached())
                return true;
        }
        return false;
    }

    // Presses stop and waits for the closing fetch, the backend stop and the save over the
    // loopback sockets.
    void stopRecording()
    {
        QVERIFY(press(QStringLiteral("stopButton")));
        QVERIFY(
            advanceUntil([this] { return !vm()->isRecording() && !vm()->isStoppingRecording(); }));
    }

    void answerDialog(bool accept, const QString &question)
    {
        QTRY_VERIFY_WITH_TIMEOUT(read(QStringLiteral("promptDialog"), "opened").toBool(), 5000);
        QCOMPARE(read(QStringLiteral("promptText"), "text").toString(), question);
        QVERIFY(press(accept ? QStringLiteral("promptAcceptButton")
                             : QStringLiteral("promptCancelButton")));
    }

    QStringList sessionRowsOnScreen() const
    {
        QStringList ids;
        QObject *repeater = find(QStringLiteral("sessionRepeater"));
        for (int i = 0; i < repeater->property("count").toInt(); ++i) {
            QQuickItem *row = nullptr;
            QMetaObject::invokeMethod(repeater, "itemAt", Q_RETURN_ARG(QQuickItem *, row),
                                      Q_ARG(int, i));
            if (row)
                ids.append(row->objectName().mid(int(qstrlen("sessionRow_"))));
        }
        return ids;
    }

    // Visible interactive controls under the item that lack an accessible name or an object
    // name (the handle tests and scripts reach them by).
    static void collectUnnamed(QQuickItem *root, QStringList *unnamed)
    {
        static const QList<QAccessible::Role> interactive = {
            QAccessible::Button,   QAccessible::CheckBox,     QAccessible::RadioButton,
            QAccessible::ComboBox, QAccessible::EditableText, QAccessible::Slider,
            QAccessible::Link};
        visitItems(root, [unnamed](QQuickItem *item) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item);
            if (item->isVisible() && accessible && interactive.contains(accessible->role()) &&
                (accessible->text(QAccessible::Name).isEmpty() || item->objectName().isEmpty()))
                unnamed->append(QStringLiteral("%1 (%2)").arg(item->objectName(),
                                                              item->metaObject()->className()));
            return item->isVisible();
        });
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

    // A recording at a glance (the indicator, the elapsed time without the pause, the pause
    // timer, the microphone meter, the settings that cannot change mid-recording), its text on
    // screen, the session listed after the stop, and its deletion.
    void recordingFromStartToDeletion()
    {
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QVERIFY(read(QStringLiteral("noSessionsLabel"), "visible").toBool());
        QVERIFY(!read(QStringLiteral("recordingIndicator"), "visible").toBool());
        CHECKED(startRecording());
        QVERIFY(read(QStringLiteral("recordingIndicator"), "visible").toBool());
        QCOMPARE(read(QStringLiteral("recordingStateLabel"), "text").toString(),
                 QStringLiteral("Tallennetaan"));
        QVERIFY(read(QStringLiteral("stopButton"), "enabled").toBool());
        QVERIFY(!read(QStringLiteral("saveTranscriptButton"), "enabled").toBool());
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

        CHECKED(speak(2000));
        QTRY_VERIFY_WITH_TIMEOUT(transcriptOnScreen().contains(u"hyvää huomenta kaikille"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(transcriptOnScreen().contains(u"aloitetaan viikkopalaveri"),
                                 10000);
        const QString id = vm()->sessionId();
        QVERIFY(!id.isEmpty());
        QCOMPARE(read(QStringLiteral("sessionIdLabel"), "text").toString(),
                 QStringLiteral("Sessio: ") + id);

        CHECKED(stopRecording());
        QVERIFY(!read(QStringLiteral("recordingIndicator"), "visible").toBool());
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
            QVERIFY(advanceUntil(reached));
        }
    }

    // The documentation tour walks the same screens by their object names; a renamed control
    // or a step that never arrives shows here rather than in a broken `./dev screenshots`.
    void screenshotTourWritesEveryPicture()
    {
        const QString email = newUser();
        CHECKED(openApp(true));
        QTemporaryDir folder;
        ScreenshotTour tour(m_engine.get(), m_context.get(),
                            {folder.path(), email, kPassword, /*recordingSeconds*/ 3});
        std::optional<QStringList> written;
        const auto runTour = [&]() -> QCoro::Task<> { written = co_await tour.run(); };
        runTour();
        // The tour paces itself by the clock; real socket traffic runs in between.
        QVERIFY(advanceUntil([&] { return written.has_value(); }, 60000, 100ms));
        QVERIFY2(!written->isEmpty(), qPrintable(tour.error()));

        QStringList names;
        for (const QString &path : *written) {
            names.append(QFileInfo(path).fileName());
            const QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QCOMPARE(image.size(), window()->size() * image.devicePixelRatio());
        }
        QCOMPARE(
            names,
            (QStringList {"01-sign-in.png", "02-main-idle.png", "03-recording.png", "04-paused.png",
                          "05-search.png", "06-history.png", "07-session-search.png"}));
        QVERIFY(vm()->history()->model()->count() == 1);
        QVERIFY(vm()->transcriptText().contains(u"hyvää huomenta kaikille"));
    }

    // Signing out mid-recording asks first, then stops and saves; the account sheets and the
    // admin panel forget what the last user typed.
    void signOutDuringRecordingAsksThenStopsAndSaves()
    {
        const QString question = QStringLiteral(
            "Tallennus on käynnissä. Lopetetaanko tallennus ja kirjaudutaanko ulos?");
        CHECKED(openApp());
        CHECKED(signIn(newUser()));
        QObject *changePassword = screenObject("changePassword");
        QObject *sheet = find(QStringLiteral("changePasswordSheet"));
        QMetaObject::invokeMethod(sheet, "open");
        changePassword->setProperty("changeCurrentPassword", QStringLiteral("vanha-salasana"));
        QMetaObject::invokeMethod(sheet, "close");
        QTRY_COMPARE(changePassword->property("changeCurrentPassword").toString(), QString());
        CHECKED(startRecording());
        CHECKED(speak(2500));
        QTRY_VERIFY_WITH_TIMEOUT(vm()->transcriptText().contains(u"hyvää huomenta"), 10000);
        const QString id = vm()->sessionId();
        QObject *admin = screenObject("adminPanel");
        admin->setProperty("adminKey", QStringLiteral("typed-admin-key"));
        admin->setProperty("adminNewUserEmail", QStringLiteral("uusi@vernalo.local"));
        screenObject("passwordReset")->setProperty("resetEmail", QStringLiteral("a@b.fi"));

        QVERIFY(press(QStringLiteral("logoutButton")));
        CHECKED(answerDialog(false, question));
        QVERIFY(vm()->isRecording());
        QCOMPARE(screen(), QStringLiteral("mainView"));
        QVERIFY(press(QStringLiteral("logoutButton")));
        QCOMPARE(read(QStringLiteral("promptAcceptButton"), "text").toString(),
                 QStringLiteral("Lopeta ja kirjaudu ulos"));
        CHECKED(answerDialog(true, question));
        QVERIFY(advanceUntil([this] { return screen() == u"loginView"; }));
        QVERIFY(m_audio->openStreams().isEmpty());
        const auto saved = SessionHistoryStore(SessionHistoryStore::defaultDirectory()).load(id);
        QVERIFY(saved && !saved->segments.isEmpty());
        QVERIFY(vm()->sessionId().isEmpty() && vm()->segments().isEmpty());
        QVERIFY(vm()->statusText().isEmpty() && vm()->diagnosticHint().isEmpty());
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
        visitItems(qobject_cast<QQuickItem *>(find(QStringLiteral("segmentList"))),
                   [&line](QQuickItem *item) {
                       if (item->property("text").toString().contains(u"Klikkaa"))
                           line = item;
                       return true;
                   });
        QVERIFY(line);
        for (qreal x = 0; x < line->width(); x += 3) {
            QString link;
            QMetaObject::invokeMethod(line, "linkAt", Q_RETURN_ARG(QString, link), Q_ARG(qreal, x),
                                      Q_ARG(qreal, line->height() / 2));
            QVERIFY2(link.isEmpty(), qPrintable(link));
        }
    }

    // A wrong password shows the server's error and stays signed out; a remembered token then
    // opens the main window at the next start without the sign-in screen.
    void rememberedTokenOpensTheMainWindowWithoutSignIn()
    {
        CHECKED(openApp());
        const QString email = newUser();
        CHECKED(typeSignIn(email, QStringLiteral("not-the-password")));
        QTRY_VERIFY_WITH_TIMEOUT(!read(QStringLiteral("loginError"), "text").toString().isEmpty(),
                                 10000);
        QVERIFY(read(QStringLiteral("loginError"), "visible").toBool());
        QCOMPARE(screen(), QStringLiteral("loginView"));
        CHECKED(signIn(email, true));
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
        visitItems(window()->contentItem(), [&](QQuickItem *item) {
            if (item->isVisible() && item->inherits("QQuickAbstractButton") &&
                item->mapRectToScene(item->boundingRect()).right() > window()->width() + 0.5)
                outside.append(item->objectName());
            return item->isVisible();
        });
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
