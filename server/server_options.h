#pragma once

#include <optional>
#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace vernalo::server {

// Everything the command line can set. Defaults suit `./dev run` on a fresh machine: loopback
// only, the client's default port, data under the user's data folder.
struct ServerOptions
{
    QHostAddress bindAddress = QHostAddress::LocalHost;
    quint16 port = 8787;
    QString dataDir;
    // The server's own log; empty: server.log in the data folder.
    QString logFile;
    // "email:password" pairs created (or reset) at start.
    QList<QPair<QString, QString>> demoUsers;
    // Accepted besides the build-time shared key.
    QStringList extraApiKeys;
    // Guards the user administration routes; empty disables them.
    QString adminKey;
    QString recognizer = QStringLiteral("pocketsphinx");
    QString scriptFile;
    QString grammarFile;
    // Served as the update manifest instead of the generated one.
    QString updateManifestFile;
    qint64 maxBodyBytes = 8 * 1024 * 1024;
    int passwordIterations = 600000;
    // Host names accepted besides 127.0.0.1, localhost, [::1] and the bind address.
    QStringList allowedHosts;
    // Browser origins (scheme://host[:port]) allowed to call; none by default.
    QStringList allowedOrigins;
    int maxConnections = 256;
    // Each live stream holds a thread and a recognizer.
    int maxStreams = 64;
    int maxOpenSessionsPerUser = 10;
    int httpHeadTimeoutSeconds = 10;
    int httpIdleTimeoutSeconds = 60;
    int streamIdleTimeoutSeconds = 120;
    // Served over TLS (https/wss) when both are set.
    QString tlsCertFile;
    QString tlsKeyFile;
};

// The default data folder: $XDG_DATA_HOME/vernalo-reference-server (~/.local/share when unset).
QString defaultDataDir();

// Parses the arguments (program name first). On failure returns no value and sets *error to a
// one-line message; "--help" also returns no value with *error empty and *helpText filled.
std::optional<ServerOptions> parseServerOptions(const QStringList &arguments, QString *error,
                                                QString *helpText = nullptr);

} // namespace vernalo::server
