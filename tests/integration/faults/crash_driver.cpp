// Runs the real core headless for one recording and its stop, for a test that kills it at a
// random moment: scripted microphone, virtual time for the controller's timers, the real REST
// and stream clients against the backend given, the real history store in the user's data
// folder (XDG_DATA_HOME decides where). Prints, each on its own line as it happens:
//   history <folder>   session <id>   stopping   stopped
// Arguments: <backend address> <auth token> <seconds of audio> [term].
// With "term" it does not stop by itself: it says "recording" and waits, with virtual time
// following real time, for SIGTERM, which must stop and save the way quitting does.
#include "foundation/unix_signal_watcher.h"
#include "recording/recording_shutdown.h"
#include "support/controller_harness.h"
#include "support/socket_wait.h"

#include <csignal>
#include <cstdio>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

using namespace vernalo;
using namespace vernalo::test;

namespace {

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QCoreApplication::setApplicationName(QStringLiteral("Vernalo"));
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5) {
        std::fprintf(stderr, "usage: crash_driver <backend> <token> <seconds> [term]\n");
        return 2;
    }
    const int seconds = std::max(1, args[3].toInt());

    ControllerHarness harness;
    STTConfiguration config = STTConfiguration::defaults();
    config.baseURL = args[1];
    harness.storeConfiguration(config);
    harness.history =
        std::make_unique<SessionHistoryStore>(SessionHistoryStore::defaultDirectory());
    SessionHistoryStore &history = *harness.history;
    FakeClock &clock = harness.clock;
    TranscriptionViewModel &vm = *harness.build();
    vm.updateAuthContext(QVariantMap {{QStringLiteral("email"), QStringLiteral("driver")}},
                         args[2]);
    say(QStringLiteral("history ") + history.directory());

    vm.startRecording();
    if (!waitUntil([&] { return vm.isRecording() || !vm.isStartingRecording(); }) ||
        !vm.isRecording()) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(vm.statusText()));
        return 1;
    }
    say(QStringLiteral("session ") + vm.sessionId());

    for (int chunk = 0; chunk < seconds * 10; ++chunk) {
        harness.speak(ControllerHarness::testChunk(chunk));
        clock.advance(std::chrono::milliseconds(100));
        QCoreApplication::processEvents();
    }
    // Every final of the audio sent comes back over the stream before the stop: the stop's
    // 1.2 s grace passes in virtual time here, which gives a slow server no real time at all.
    if (!waitUntil([&] { return vm.segments().size() >= seconds; }, 10000)) {
        std::fprintf(stderr, "finals missing: %lld of %d\n",
                     static_cast<long long>(vm.segments().size()), seconds);
        return 1;
    }

    if (args.size() == 5) {
        RecordingShutdown shutdown(&vm, &history, &clock, &harness.desktop);
        UnixSignalWatcher signalWatcher({SIGTERM});
        QObject::connect(&signalWatcher, &UnixSignalWatcher::received, &app, [&] {
            [](RecordingShutdown *s) -> QCoro::Task<> {
                co_await s->stopAndSave();
                QCoreApplication::quit();
            }(&shutdown);
        });
        QElapsedTimer real;
        real.start();
        QTimer pump;
        QObject::connect(&pump, &QTimer::timeout, &app,
                         [&] { clock.advance(std::chrono::milliseconds(real.restart())); });
        pump.start(10);
        say(QStringLiteral("recording"));
        app.exec();
        say(QStringLiteral("stopped"));
        return 0;
    }
    say(QStringLiteral("stopping"));
    vm.stopRecording();
    clock.advance(std::chrono::milliseconds(1200));
    if (!waitUntil([&] { return !vm.isStoppingRecording(); })) {
        std::fprintf(stderr, "stop did not finish\n");
        return 1;
    }
    say(QStringLiteral("stopped"));
    return 0;
}
