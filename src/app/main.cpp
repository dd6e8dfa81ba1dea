#include "foundation/app_log.h"
#include "foundation/build_info.h"

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

    vernalo::AppLog::write(QStringLiteral("app launch version=%1 build=%2")
                               .arg(vernalo::buildinfo::version(), vernalo::buildinfo::buildNumber()));

    QQmlApplicationEngine engine;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    return app.exec();
}
