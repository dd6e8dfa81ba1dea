#include "server_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>

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

// A secret's lines from a file: one value a line, blank lines and "#" comments skipped.
std::optional<QStringList> secretLines(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read ") + path;
        return std::nullopt;
    }
    QStringList lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            lines.append(line);
    }
    return lines;
}

// Values of a secret from the command line, its file option and its environment variable (one
// value a line), in that order. Files and the environment keep secrets out of the process list.
std::optional<QStringList> secretValues(const QCommandLineParser &parser,
                                        const QCommandLineOption &direct,
                                        const QCommandLineOption &fromFile, const char *variable,
                                        QString *error)
{
    QStringList values = parser.values(direct);
    for (const QString &path : parser.values(fromFile)) {
        const auto lines = secretLines(path, error);
        if (!lines)
            return std::nullopt;
        values += *lines;
    }
    for (const QString &line :
         qEnvironmentVariable(variable).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            values.append(line.trimmed());
    }
    return values;
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
    const QCommandLineOption demoUserFile(
        QStringLiteral("demo-user-file"),
        QStringLiteral("Demo users from a file, EMAIL:PASSWORD a line (also $VERNALO_DEMO_USERS)."),
        QStringLiteral("FILE"));
    const QCommandLineOption apiKeyFile(
        QStringLiteral("api-key-file"),
        QStringLiteral("API keys from a file, one a line (also $VERNALO_API_KEYS)."),
        QStringLiteral("FILE"));
    const QCommandLineOption adminKeyFile(
        QStringLiteral("admin-key-file"),
        QStringLiteral("Admin key from a file (also $VERNALO_ADMIN_KEY)."), QStringLiteral("FILE"));
    const QCommandLineOption allowedHost(
        QStringLiteral("allowed-host"),
        QStringLiteral("Accept requests for this host name too (repeatable)."),
        QStringLiteral("NAME"));
    const QCommandLineOption allowedOrigin(
        QStringLiteral("allowed-origin"),
        QStringLiteral("Accept browser requests from this origin (repeatable)."),
        QStringLiteral("ORIGIN"));
    const QCommandLineOption maxConnections(QStringLiteral("max-connections"),
                                            QStringLiteral("Open connections (default 256)."),
                                            QStringLiteral("N"));
    const QCommandLineOption maxStreams(QStringLiteral("max-streams"),
                                        QStringLiteral("Concurrent live streams (default 64)."),
                                        QStringLiteral("N"));
    const QCommandLineOption maxSessions(
        QStringLiteral("max-sessions-per-user"),
        QStringLiteral("Open sessions of one user or API key (default 10)."), QStringLiteral("N"));
    const QCommandLineOption idleTimeout(
        QStringLiteral("http-idle-timeout"),
        QStringLiteral("Seconds an HTTP connection may sit idle (default 60)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption streamIdleTimeout(
        QStringLiteral("stream-idle-timeout"),
        QStringLiteral("Seconds a live stream may go without audio (default 120)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption headTimeout(
        QStringLiteral("http-head-timeout"),
        QStringLiteral("Seconds a request head may take to arrive (default 10)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"),
                                     QStringLiteral("PEM certificate: serve HTTPS and WSS."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"),
                                    QStringLiteral("PEM private key of --tls-cert."),
                                    QStringLiteral("FILE"));
    parser.addOptions({help,           port,
                       bind,           data,
                       logFile,        demoUser,
                       apiKey,         adminKey,
                       recognizer,     script,
                       grammar,        manifest,
                       maxBody,        demoUserFile,
                       apiKeyFile,     adminKeyFile,
                       allowedHost,    allowedOrigin,
                       maxConnections, maxStreams,
                       maxSessions,    idleTimeout,
                       headTimeout,    tlsCert,
                       tlsKey,         streamIdleTimeout});

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
    QString secretError;
    const auto demoUsers =
        secretValues(parser, demoUser, demoUserFile, "VERNALO_DEMO_USERS", &secretError);
    const auto apiKeys = secretValues(parser, apiKey, apiKeyFile, "VERNALO_API_KEYS", &secretError);
    const auto adminKeys =
        secretValues(parser, adminKey, adminKeyFile, "VERNALO_ADMIN_KEY", &secretError);
    if (!demoUsers || !apiKeys || !adminKeys)
        return failWith(secretError);
    for (const QString &value : *demoUsers) {
        const auto credentials = splitCredentials(value);
        if (!credentials)
            return failWith(QStringLiteral("--demo-user needs EMAIL:PASSWORD, got: ") + value);
        options.demoUsers.append(*credentials);
    }
    for (const QString &value : *apiKeys) {
        if (!value.trimmed().isEmpty())
            options.extraApiKeys.append(value.trimmed());
    }
    if (adminKeys->size() > 1)
        return failWith(QStringLiteral("more than one admin key given"));
    options.adminKey = adminKeys->value(0).trimmed();
    options.allowedHosts = parser.values(allowedHost);
    options.allowedOrigins = parser.values(allowedOrigin);
    options.tlsCertFile = parser.value(tlsCert);
    options.tlsKeyFile = parser.value(tlsKey);
    if (options.tlsCertFile.isEmpty() != options.tlsKeyFile.isEmpty())
        return failWith(QStringLiteral("--tls-cert and --tls-key go together"));
    const std::pair<const QCommandLineOption *, int *> counts[] = {
        {&maxConnections, &options.maxConnections},
        {&maxStreams, &options.maxStreams},
        {&maxSessions, &options.maxOpenSessionsPerUser},
        {&idleTimeout, &options.httpIdleTimeoutSeconds},
        {&streamIdleTimeout, &options.streamIdleTimeoutSeconds},
        {&headTimeout, &options.httpHeadTimeoutSeconds}};
    for (const auto &[option, target] : counts) {
        if (!parser.isSet(*option))
            continue;
        const int value = parser.value(*option).toInt(&ok);
        if (!ok || value < 1)
            return failWith(QStringLiteral("invalid --") + option->names().constFirst() +
                            QStringLiteral(": ") + parser.value(*option));
        *target = value;
    }
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
