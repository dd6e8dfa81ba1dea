#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "startup_diagnostics.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QGuiApplication::setApplicationName(QStringLiteral("Vernalo"));
    QGuiApplication::setApplicationVersion(vernalo::buildinfo::version());
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrova.vernalo"));

    vernalo::AppLog::write(QStringLiteral("startup font registration invoked"));
    const auto scan = vernalo::scanStartupResources(
        vernalo::defaultResourceCandidates(QCoreApplication::applicationDirPath()),
        QGuiApplication::desktopFileName(), vernalo::buildinfo::version(),
        vernalo::buildinfo::buildNumber());
    vernalo::registerStartupFonts(scan);

    QQmlApplicationEngine engine;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    return app.exec();
}
