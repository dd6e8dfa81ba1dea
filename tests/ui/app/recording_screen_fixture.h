#pragma once

#include "app_context.h"
#include "demo_audio_system.h"
#include "foundation/build_info.h"
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

#include <QClipboard>
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

namespace vernalo::test {

using namespace std::chrono_literals;

inline const QString kPassword = QStringLiteral("secret-pass");
inline constexpr quint32 kMicrophoneId = 21;

// What the reference server's script recognizer "hears" at these offsets of received audio.
inline const QString kScript = QStringLiteral("0.8 [Anna] hyvää huomenta kaikille\n"
                                              "1.6 aloitetaan viikkopalaveri\n");

// The main window driven like a user drives it: controls found by object name and pressed
// through their own signals, over the real core, a scripted sound server, virtual time for the
// controller's timers and the reference server (script recognizer) on 127.0.0.1. The test
// classes start the server in initTestCase().
class RecordingScreenFixture
{
protected:
    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    FakeAudioSystem *m_audio = nullptr;
    FakeClock *m_clock = nullptr;
    int m_userCount = 0;
    qint64 m_spokenSamples = 0;

    TranscriptionViewModel *vm() const { return m_context->transcription(); }

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
        std::unique_ptr<AudioSystem> audio;
        m_audio = nullptr;
        if (demoVoice) {
            audio = std::make_unique<DemoAudioSystem>(m_clock);
        } else {
            auto scripted = std::make_unique<FakeAudioSystem>();
            scripted->addSource(kMicrophoneId, QStringLiteral("Desk Mic"), QStringLiteral("usb"));
            scripted->defaultSourceId = kMicrophoneId;
            scripted->streamFormatName = QStringLiteral("s16le");
            scripted->streamBitsPerSample = 16;
            m_audio = scripted.get();
            audio = std::move(scripted);
        }
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
        QObject *root = m_engine->rootObjects().first();
        if (root->objectName() == name)
            return root;
        if (QObject *found = root->findChild<QObject *>(name))
            return found;
        auto *window = qobject_cast<QQuickWindow *>(root);
        return window ? findItem(window->contentItem(), name) : nullptr;
    }

    static QQuickItem *findItem(QQuickItem *item, const QString &name)
    {
        if (item->objectName() == name)
            return item;
        for (QQuickItem *child : item->childItems()) {
            if (QQuickItem *found = findItem(child, name))
                return found;
        }
        return nullptr;
    }

    // A property of a named object; an invalid value when there is no such object.
    QVariant read(const QString &name, const char *property) const
    {
        QObject *object = find(name);
        return object ? object->property(property) : QVariant();
    }

    QString screen() const
    {
        auto *item = read(QStringLiteral("rootLoader"), "item").value<QObject *>();
        return item ? item->objectName() : QString();
    }

    // Presses a button the way a pointer click ends: only when it is shown and enabled.
    bool press(const QString &name)
    {
        QObject *button = find(name);
        if (!button || !button->property("visible").toBool() ||
            !button->property("enabled").toBool())
            return false;
        return QMetaObject::invokeMethod(button, "clicked");
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
        for (int done = 0; done < ms; done += 100) {
            RawAudioFrames frames;
            frames.bytes = SyntheticCaptureStream::render(SyntheticCaptureStream::Voice::Speech,
                                                          m_spokenSamples, 100);
            frames.format = SampleFormat::Int16;
            frames.channels = 1;
            frames.sampleRate = 16000.0;
            m_audio->lastStream()->deliver(frames);
            m_spokenSamples += 1600;
        }
    }

    // The text the transcript card shows: every line of its list, final and interim.
    QString transcriptOnScreen() const
    {
        QStringList lines;
        auto *list = qobject_cast<QQuickItem *>(find(QStringLiteral("segmentList")));
        if (!list)
            return QString();
        const auto collect = [&lines](QQuickItem *item, const auto &self) -> void {
            const QString text = item->property("text").toString();
            if (item->isVisible() && !text.isEmpty())
                lines.append(text);
            for (QQuickItem *child : item->childItems())
                self(child, self);
        };
        collect(list, collect);
        return lines.join(QLatin1Char('\n'));
    }

    void startRecording()
    {
        QVERIFY(press(QStringLiteral("startButton")));
        QTRY_VERIFY2_WITH_TIMEOUT(vm()->isRecording(), qPrintable(vm()->statusText()), 10000);
        QVERIFY(!read(QStringLiteral("startButton"), "enabled").toBool());
    }

    // Presses stop, lets the grace for the last finals pass in virtual time and waits for the
    // closing fetch, the backend stop and the save over the loopback sockets.
    void stopRecording()
    {
        QVERIFY(press(QStringLiteral("stopButton")));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                m_clock->advance(200ms);
                return !vm()->isRecording() && !vm()->isStoppingRecording();
            }(),
            10000);
    }

    QQuickWindow *window() const
    {
        return qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    }

    void answerDialog(bool accept, const QString &question)
    {
        QTRY_VERIFY_WITH_TIMEOUT(read(QStringLiteral("promptDialog"), "opened").toBool(), 5000);
        QCOMPARE(read(QStringLiteral("promptText"), "text").toString(), question);
        QVERIFY(press(accept ? QStringLiteral("promptAcceptButton")
                             : QStringLiteral("promptCancelButton")));
    }

    QObject *screenObject(const char *name) const
    {
        return m_context->property(name).value<QObject *>();
    }

    QStringList sessionRowsOnScreen() const
    {
        QStringList ids;
        auto *repeater = find(QStringLiteral("sessionRepeater"));
        const int count = repeater->property("count").toInt();
        for (int i = 0; i < count; ++i) {
            QQuickItem *row = nullptr;
            QMetaObject::invokeMethod(repeater, "itemAt", Q_RETURN_ARG(QQuickItem *, row),
                                      Q_ARG(int, i));
            if (row)
                ids.append(row->objectName().mid(int(qstrlen("sessionRow_"))));
        }
        return ids;
    }
};

} // namespace vernalo::test
