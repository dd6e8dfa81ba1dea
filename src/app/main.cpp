#include "app_context.h"
#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "startup_diagnostics.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>

int main(int argc, char *argv[])
{
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
    parser.addOption(backendOption);
    parser.addOption(authOption);
    parser.addOption(screenshotOption);
    parser.addOption(delayOption);
    parser.process(app);

    vernalo::AppLog::write(QStringLiteral("startup font registration invoked"));
    const auto scan = vernalo::scanStartupResources(
        vernalo::defaultResourceCandidates(QCoreApplication::applicationDirPath()),
        QGuiApplication::desktopFileName(), vernalo::buildinfo::version(),
        vernalo::buildinfo::buildNumber());
    vernalo::registerStartupFonts(scan);

    vernalo::AppContext context(
        vernalo::BackendOverride{parser.value(backendOption), parser.value(authOption)});

    QQmlApplicationEngine engine;
    context.exposeTo(engine.rootContext());
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));

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
