#include "app_context.h"
#include "demo_audio_system.h"
#include "desktop/qt_desktop_services.h"
#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "foundation/unix_signal_watcher.h"
#include "recording/recording_shutdown.h"
#include "screenshot_tour.h"
#include "single_instance.h"
#include "startup_diagnostics.h"
#include "wire/clock.h"

#include <csignal>
#include <cstdio>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSessionManager>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <QUrl>

Q_IMPORT_QML_PLUGIN(VernaloPlugin)

namespace {

QCoro::Task<> runTourAndQuit(vernalo::ScreenshotTour *tour)
{
    const QStringList written = co_await tour->run();
    for (const QString &path : written)
        std::printf("screenshot: %s\n", qPrintable(path));
    if (written.isEmpty())
        std::fprintf(stderr, "screenshot tour failed: %s\n", qPrintable(tour->error()));
    std::fflush(stdout);
    QCoreApplication::exit(written.isEmpty() ? 1 : 0);
}

QCoro::Task<> saveThenQuit(vernalo::RecordingShutdown *shutdown)
{
    co_await shutdown->stopAndSave();
    QCoreApplication::quit();
}

// Whatever ends the process (a signal, the desktop session, a quit from elsewhere) first
// stops a running recording and saves it.
void saveRecordingOnEveryExit(QGuiApplication &app, vernalo::RecordingShutdown *shutdown)
{
    auto *watcher = new vernalo::UnixSignalWatcher({SIGTERM, SIGINT, SIGHUP}, &app);
    QObject::connect(watcher, &vernalo::UnixSignalWatcher::received, shutdown, [shutdown](int n) {
        vernalo::AppLog::write(QStringLiteral("signal %1 received, quitting").arg(n));
        saveThenQuit(shutdown);
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, shutdown,
                     [shutdown](QSessionManager &) { shutdown->stopAndSaveBlocking(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, shutdown,
                     [shutdown] { shutdown->stopAndSaveBlocking(); });
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered before the GUI starts: a terminal without a display (a package check, a script)
    // must get the version, not a failed connection to the display.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--version") == 0 || qstrcmp(argv[i], "-v") == 0) {
            std::printf("Vernalo %s\n", qPrintable(vernalo::buildinfo::version()));
            return 0;
        }
    }
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QGuiApplication::setApplicationName(QStringLiteral("Vernalo"));
    QGuiApplication::setApplicationVersion(vernalo::buildinfo::version());
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrova.vernalo"));

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption backendOption(QStringLiteral("backend-url"),
                                           QStringLiteral("Speech-to-text backend root to store."),
                                           QStringLiteral("url"));
    const QCommandLineOption authOption(QStringLiteral("auth-url"),
                                        QStringLiteral("Auth service root to store."),
                                        QStringLiteral("url"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Write a PNG of the window after the delay and quit (documentation)."),
        QStringLiteral("file"));
    const QCommandLineOption delayOption(QStringLiteral("screenshot-delay"),
                                         QStringLiteral("Milliseconds before the screenshot."),
                                         QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption demoAudioOption(
        QStringLiteral("demo-audio"),
        QStringLiteral("Record a synthetic voice instead of the sound server (demos)."));
    const QCommandLineOption tourOption(
        QStringLiteral("screenshot-tour"),
        QStringLiteral("Sign in, record and stop with the synthetic voice, writing a PNG of each "
                       "screen into the folder, then quit (documentation)."),
        QStringLiteral("folder"));
    const QCommandLineOption demoUserOption(QStringLiteral("demo-user"),
                                            QStringLiteral("Who the tour signs in as."),
                                            QStringLiteral("email:password"));
    const QCommandLineOption recordSecondsOption(
        QStringLiteral("tour-record-seconds"),
        QStringLiteral("How long the tour records before its picture."), QStringLiteral("s"),
        QStringLiteral("8"));
    parser.addOption(demoAudioOption);
    parser.addOption(tourOption);
    parser.addOption(demoUserOption);
    parser.addOption(recordSecondsOption);
    parser.addOption(backendOption);
    parser.addOption(authOption);
    parser.addOption(screenshotOption);
    parser.addOption(delayOption);
    parser.process(app);

    const bool touring = parser.isSet(tourOption);
    const bool oneShot = touring || parser.isSet(screenshotOption);
    vernalo::SingleInstance instance;
    if (!oneShot && instance.handOverToRunning())
        return 0;
    if (!oneShot && !instance.listen())
        vernalo::AppLog::write(QStringLiteral("single instance name unavailable"));

    vernalo::AppLog::write(QStringLiteral("startup font registration invoked"));
    const auto scan = vernalo::scanStartupResources(
        vernalo::defaultResourceCandidates(QCoreApplication::applicationDirPath()),
        QGuiApplication::desktopFileName(), vernalo::buildinfo::version(),
        vernalo::buildinfo::buildNumber());
    vernalo::registerStartupFonts(scan);

    auto clock = std::make_unique<vernalo::SystemClock>();
    std::unique_ptr<vernalo::AudioSystem> audioSystem;
    if (touring || parser.isSet(demoAudioOption))
        audioSystem = std::make_unique<vernalo::DemoAudioSystem>(clock.get());
    vernalo::AppContext context(
        vernalo::BackendOverride {parser.value(backendOption), parser.value(authOption), !oneShot},
        std::move(audioSystem), std::move(clock));
    saveRecordingOnEveryExit(app, context.shutdown());
    QObject::connect(&instance, &vernalo::SingleInstance::activationRequested, context.desktop(),
                     [&context] { context.desktop()->bringToFront(); });

    QQmlApplicationEngine engine;
    context.exposeTo(&engine);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(vernalo::AppContext::mainScreenUrl());

    std::unique_ptr<vernalo::ScreenshotTour> tour;
    if (touring) {
        const QString user = parser.value(demoUserOption);
        const qsizetype colon = user.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            std::fprintf(stderr, "--screenshot-tour needs --demo-user email:password\n");
            return 2;
        }
        vernalo::ScreenshotTour::Options options;
        options.outputDirectory = parser.value(tourOption);
        options.email = user.left(colon);
        options.password = user.mid(colon + 1);
        options.recordingSeconds = qMax(1, parser.value(recordSecondsOption).toInt());
        tour = std::make_unique<vernalo::ScreenshotTour>(&engine, &context, options);
        runTourAndQuit(tour.get());
    }

    if (parser.isSet(screenshotOption)) {
        const QString path = parser.value(screenshotOption);
        QTimer::singleShot(parser.value(delayOption).toInt(), &app, [&engine, path] {
            auto *window = engine.rootObjects().isEmpty()
                ? nullptr
                : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
            const bool saved = window && window->grabWindow().save(path);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
