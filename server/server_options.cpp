#include "server_options.h"

#include <QCommandLineParser>
#include <QDir>

namespace vernalo::server {

QString defaultDataDir()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/vernalo-reference-server");
}

namespace {

std::optional<QPair<QString, QString>> splitCredentials(const QString &value)
{
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == value.size() - 1)
        return std::nullopt;
    const QString email = value.left(colon).trimmed().toLower();
    const QString password = value.mid(colon + 1).trimmed();
    if (email.isEmpty() || password.isEmpty())
        return std::nullopt;
    return qMakePair(email, password);
}

} // namespace

std::optional<ServerOptions> parseServerOptions(const QStringList &arguments, QString *error,
                                                QString *helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local speech-to-text backend, live stream and auth service for Vernalo."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port (default 8787, 0 picks a free one)."),
                                  QStringLiteral("PORT"), QStringLiteral("8787"));
    const QCommandLineOption bind(QStringLiteral("bind"),
                                  QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Folder of the SQLite database."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption logFile(
        QStringLiteral("log-file"),
        QStringLiteral("Append the server's log to this file (default server.log in the data "
                       "folder)."),
        QStringLiteral("FILE"));
    const QCommandLineOption demoUser(QStringLiteral("demo-user"),
                                      QStringLiteral("Create this user at start (repeatable)."),
                                      QStringLiteral("EMAIL:PASSWORD"));
    const QCommandLineOption apiKey(QStringLiteral("api-key"),
                                    QStringLiteral("Accept this API key too (repeatable)."),
                                    QStringLiteral("KEY"));
    const QCommandLineOption adminKey(QStringLiteral("admin-key"),
                                      QStringLiteral("Key of the user administration routes."),
                                      QStringLiteral("KEY"));
    const QCommandLineOption recognizer(QStringLiteral("recognizer"),
                                        QStringLiteral("pocketsphinx (default) or script."),
                                        QStringLiteral("NAME"), QStringLiteral("pocketsphinx"));
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("Script of the script recognizer."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption grammar(QStringLiteral("grammar"),
                                     QStringLiteral("JSGF grammar for pocketsphinx."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption manifest(QStringLiteral("update-manifest"),
                                      QStringLiteral("Serve this file as the update manifest."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption maxBody(QStringLiteral("max-body-bytes"),
                                     QStringLiteral("Largest accepted request body."),
                                     QStringLiteral("BYTES"));
    parser.addOptions({help, port, bind, data, logFile, demoUser, apiKey, adminKey, recognizer,
                       script, grammar, manifest, maxBody});

    auto failWith = [error](const QString &message) -> std::optional<ServerOptions> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (error)
        error->clear();
    if (!parser.parse(arguments))
        return failWith(parser.errorText());
    if (parser.isSet(help)) {
        if (helpText)
            *helpText = parser.helpText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty())
        return failWith(QStringLiteral("unexpected argument: ") +
                        parser.positionalArguments().constFirst());

    ServerOptions options;
    bool ok = false;
    const uint portValue = parser.value(port).toUInt(&ok);
    if (!ok || portValue > 65535)
        return failWith(QStringLiteral("invalid --port: ") + parser.value(port));
    options.port = static_cast<quint16>(portValue);
    if (!options.bindAddress.setAddress(parser.value(bind)))
        return failWith(QStringLiteral("invalid --bind address: ") + parser.value(bind));
    options.dataDir = parser.isSet(data) ? parser.value(data) : defaultDataDir();
    options.logFile = parser.value(logFile);
    for (const QString &value : parser.values(demoUser)) {
        const auto credentials = splitCredentials(value);
        if (!credentials)
            return failWith(QStringLiteral("--demo-user needs EMAIL:PASSWORD, got: ") + value);
        options.demoUsers.append(*credentials);
    }
    for (const QString &value : parser.values(apiKey)) {
        if (!value.trimmed().isEmpty())
            options.extraApiKeys.append(value.trimmed());
    }
    options.adminKey = parser.value(adminKey).trimmed();
    options.recognizer = parser.value(recognizer).trimmed().toLower();
    options.scriptFile = parser.value(script);
    options.grammarFile = parser.value(grammar);
    options.updateManifestFile = parser.value(manifest);
    if (options.recognizer != QLatin1String("pocketsphinx") &&
        options.recognizer != QLatin1String("script"))
        return failWith(QStringLiteral("unknown --recognizer: ") + options.recognizer);
    if (options.recognizer == QLatin1String("script") && options.scriptFile.isEmpty())
        return failWith(QStringLiteral("--recognizer script needs --script FILE"));
    if (parser.isSet(maxBody)) {
        const qint64 bytes = parser.value(maxBody).toLongLong(&ok);
        if (!ok || bytes < 1024)
            return failWith(QStringLiteral("invalid --max-body-bytes: ") + parser.value(maxBody));
        options.maxBodyBytes = bytes;
    }
    return options;
}

} // namespace vernalo::server
