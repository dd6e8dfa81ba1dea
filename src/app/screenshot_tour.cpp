#include "screenshot_tour.h"

#include "app_context.h"
#include "recording/history_state.h"
#include "recording/session_history_model.h"
#include "recording/transcript_segment_model.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_search_model.h"
#include "wire/clock.h"

#include <QDir>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 100ms;
// Lets bindings, layouts and a frame settle before a picture.
constexpr auto kSettle = 700ms;

} // namespace

ScreenshotTour::ScreenshotTour(QQmlApplicationEngine *engine, AppContext *context, Options options,
                               QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_context(context)
    , m_options(std::move(options))
{ }

QObject *ScreenshotTour::find(const QString &name) const
{
    if (m_engine->rootObjects().isEmpty())
        return nullptr;
    QObject *root = m_engine->rootObjects().first();
    return root->objectName() == name ? root : root->findChild<QObject *>(name);
}

QString ScreenshotTour::currentScreen() const
{
    QObject *loader = find(QStringLiteral("rootLoader"));
    auto *item = loader ? loader->property("item").value<QObject *>() : nullptr;
    return item ? item->objectName() : QString();
}

bool ScreenshotTour::press(const QString &buttonName)
{
    QObject *button = find(buttonName);
    if (!button || !button->property("enabled").toBool()) {
        m_error = QStringLiteral("%1 could not be pressed").arg(buttonName);
        return false;
    }
    return QMetaObject::invokeMethod(button, "clicked");
}

QCoro::Task<bool> ScreenshotTour::waitUntil(std::function<bool()> condition, QString what)
{
    QPointer<ScreenshotTour> self(this);
    Clock *clock = m_context->clock();
    const qint64 deadline = clock->monotonicMs() + m_options.timeoutSeconds * 1000LL;
    while (!condition()) {
        if (clock->monotonicMs() > deadline) {
            m_error = QStringLiteral("timed out waiting for %1").arg(what);
            co_return false;
        }
        co_await clock->sleep(kPollInterval);
        if (!self)
            co_return false;
    }
    co_return true;
}

QCoro::Task<bool> ScreenshotTour::shoot(QString fileName)
{
    QPointer<ScreenshotTour> self(this);
    co_await m_context->clock()->sleep(kSettle);
    if (!self)
        co_return false;
    auto *window = m_engine->rootObjects().isEmpty()
        ? nullptr
        : qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    const QString path = QDir(m_options.outputDirectory).filePath(fileName);
    if (!window || !window->grabWindow().save(path)) {
        m_error = QStringLiteral("could not write %1").arg(path);
        co_return false;
    }
    m_written.append(path);
    co_return true;
}

QCoro::Task<QStringList> ScreenshotTour::run()
{
    QPointer<ScreenshotTour> self(this);
    TranscriptionViewModel *vm = m_context->transcription();
    QDir().mkpath(m_options.outputDirectory);

    if (!co_await waitUntil([this] { return currentScreen() == u"loginView"; },
                            QStringLiteral("the sign-in screen")))
        co_return QStringList();
    find(QStringLiteral("emailField"))->setProperty("text", m_options.email);
    if (!co_await shoot(QStringLiteral("01-sign-in.png")) || !self)
        co_return QStringList();

    find(QStringLiteral("passwordField"))->setProperty("text", m_options.password);
    find(QStringLiteral("rememberBox"))->setProperty("checked", false);
    if (!press(QStringLiteral("loginButton")))
        co_return QStringList();
    if (!co_await waitUntil(
            [this, vm] {
                return currentScreen() == u"mainView" && !vm->history()->isCrashRecoveryRunning();
            },
            QStringLiteral("the main window")))
        co_return QStringList();
    if (!co_await shoot(QStringLiteral("02-main-idle.png")) || !self)
        co_return QStringList();

    if (!press(QStringLiteral("startButton")))
        co_return QStringList();
    if (!co_await waitUntil([vm] { return vm->isRecording(); }, QStringLiteral("recording")))
        co_return QStringList();
    const qint64 recordUntil =
        m_context->clock()->monotonicMs() + m_options.recordingSeconds * 1000LL;
    if (!co_await waitUntil(
            [this, recordUntil] { return m_context->clock()->monotonicMs() >= recordUntil; },
            QStringLiteral("the recording")))
        co_return QStringList();
    if (vm->segmentModel()->count() == 0) {
        m_error = QStringLiteral("no transcript arrived while recording: %1").arg(vm->statusText());
        co_return QStringList();
    }
    if (!co_await shoot(QStringLiteral("03-recording.png")) || !self)
        co_return QStringList();

    if (!press(QStringLiteral("pauseButton")))
        co_return QStringList();
    const qint64 pausedUntil = m_context->clock()->monotonicMs() + 2000;
    if (!co_await waitUntil(
            [this, vm, pausedUntil] {
                return vm->isPaused() && m_context->clock()->monotonicMs() >= pausedUntil;
            },
            QStringLiteral("the pause")))
        co_return QStringList();
    if (!co_await shoot(QStringLiteral("04-paused.png")) || !self)
        co_return QStringList();

    if (!press(QStringLiteral("stopButton")))
        co_return QStringList();
    if (!co_await waitUntil(
            [vm] {
                return !vm->isRecording() && !vm->isStoppingRecording() &&
                    vm->history()->model()->count() > 0;
            },
            QStringLiteral("the stopped session in the history")))
        co_return QStringList();
    QObject *search = find(QStringLiteral("transcriptSearch"));
    if (!search) {
        m_error = QStringLiteral("no transcript search field");
        co_return QStringList();
    }
    search->setProperty("text", QStringLiteral("viikko"));
    if (!co_await shoot(QStringLiteral("05-search.png")) || !self)
        co_return QStringList();
    search->setProperty("text", QString());

    QObject *mainView = find(QStringLiteral("mainView"));
    QMetaObject::invokeMethod(mainView, "scrollToSection",
                              Q_ARG(QVariant, QStringLiteral("historyCard")));
    if (!co_await shoot(QStringLiteral("06-history.png")) || !self)
        co_return QStringList();

    // A search across the saved sessions, its hit loaded and shown in the transcript.
    SessionSearchModel *sessions = m_context->sessionSearch();
    sessions->setQuery(QStringLiteral("viikko"));
    sessions->searchNow();
    if (!co_await waitUntil([sessions] { return sessions->count() > 0; },
                            QStringLiteral("a session search hit")))
        co_return QStringList();
    QMetaObject::invokeMethod(mainView, "scrollToSection",
                              Q_ARG(QVariant, QStringLiteral("historyCard")));
    if (!co_await shoot(QStringLiteral("07-session-search.png")) || !self)
        co_return QStringList();
    co_return m_written;
}

} // namespace vernalo
