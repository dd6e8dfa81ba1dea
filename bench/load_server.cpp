// load_server: the reference server process on loopback under a bounded load. Stream clients
// each create a session, stream audio in real time and stop; login clients meanwhile guess
// passwords. Prints sessions completed, finals lost, refused logins and the server's peak RSS
// and thread count.

#include "foundation/build_info.h"

#include <cstdio>
#include <memory>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

namespace {

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

struct Figures
{
    int sessionsCompleted = 0;
    int finalsLost = 0;
    int loginAttempts = 0;
    int loginsRefused = 0; // 429 from the back-off
    qint64 peakRssKb = 0;
    int peakThreads = 0;
};

QNetworkRequest jsonRequest(const QUrl &base, const QString &path)
{
    QNetworkRequest request(base.resolved(QUrl(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("x-api-key", vernalo::buildinfo::defaultSharedAPIKey().toUtf8());
    request.setTransferTimeout(60000);
    return request;
}

// One recording: create, stream `seconds` of audio at real pace, stop, compare transcripts.
class StreamClient : public QObject
{
public:
    StreamClient(QNetworkAccessManager &network, QUrl base, int seconds, Figures &figures,
                 std::function<void()> done)
        : m_network(network)
        , m_base(std::move(base))
        , m_chunks(seconds * 10)
        , m_figures(figures)
        , m_done(std::move(done))
    {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject event = QJsonDocument::fromJson(text.toUtf8()).object();
            if (event.value(QStringLiteral("type")).toString() == QLatin1String("final"))
                m_seen.insert(event.value(QStringLiteral("text")).toString());
        });
        connect(&m_socket, &QWebSocket::connected, this, [this] {
            m_socket.sendTextMessage(QStringLiteral(
                R"({"type":"start","language":"en-US","sampleRate":16000,"enableInterim":true})"));
            m_pace.start(100);
        });
        connect(&m_pace, &QTimer::timeout, this, &StreamClient::sendChunk);
    }

    void begin()
    {
        QNetworkReply *reply = m_network.post(
            jsonRequest(m_base, QStringLiteral("/v1/sessions")),
            QByteArrayLiteral(R"({"language":"en-US","enableInterim":true,"sttModel":"chirp_3",)"
                              R"("enableSpeakerDiarization":false,"speakerCount":0})"));
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            reply->deleteLater();
            const QJsonObject created = QJsonDocument::fromJson(reply->readAll()).object();
            m_id = created.value(QStringLiteral("sessionId")).toString();
            if (m_id.isEmpty())
                return finish(false);
            m_socket.open(QUrl(created.value(QStringLiteral("wsUrl")).toString()));
        });
    }

private:
    void sendChunk()
    {
        if (m_sent == m_chunks) {
            m_pace.stop();
            m_socket.sendTextMessage(QStringLiteral("{\"type\":\"stop\"}"));
            // The last finals arrive after the stop; then the session is ended over REST.
            waitForFinals(0);
            return;
        }
        QByteArray chunk(3200, Qt::Uninitialized);
        for (int i = 0; i < 1600; ++i) {
            const qint16 sample = i % 2 ? 3000 : -3000;
            chunk[2 * i] = char(sample & 0xff);
            chunk[2 * i + 1] = char((sample >> 8) & 0xff);
        }
        m_socket.sendBinaryMessage(chunk);
        ++m_sent;
    }
    void waitForFinals(int waitedMs)
    {
        if (m_seen.size() >= m_chunks / 10 || waitedMs >= 20000)
            return stopSession();
        QTimer::singleShot(200, this, [this, waitedMs] { waitForFinals(waitedMs + 200); });
    }
    void stopSession()
    {
        QNetworkReply *reply = m_network.post(
            jsonRequest(m_base, QStringLiteral("/v1/sessions/%1/stop").arg(m_id)), QByteArray());
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            reply->deleteLater();
            QNetworkReply *transcript = m_network.get(
                jsonRequest(m_base, QStringLiteral("/v1/sessions/%1/transcript").arg(m_id)));
            connect(transcript, &QNetworkReply::finished, this, [this, transcript] {
                transcript->deleteLater();
                const QJsonArray segments = QJsonDocument::fromJson(transcript->readAll())
                                                .object()
                                                .value(QStringLiteral("segments"))
                                                .toArray();
                QSet<QString> stored;
                for (const QJsonValue &segment : segments)
                    stored.insert(segment.toObject().value(QStringLiteral("text")).toString());
                // Lost: expected from the audio sent but not stored, or seen but not stored.
                const int expected = m_chunks / 10;
                m_figures.finalsLost += std::max(0, expected - int(stored.size()));
                for (const QString &text : std::as_const(m_seen))
                    m_figures.finalsLost += stored.contains(text) ? 0 : 1;
                finish(stored.size() == expected && m_seen.size() == expected);
            });
        });
    }
    void finish(bool completed)
    {
        m_pace.stop();
        m_socket.abort();
        m_figures.sessionsCompleted += completed ? 1 : 0;
        m_done();
    }

    QNetworkAccessManager &m_network;
    QUrl m_base;
    int m_chunks;
    int m_sent = 0;
    Figures &m_figures;
    std::function<void()> m_done;
    QWebSocket m_socket;
    QTimer m_pace;
    QString m_id;
    QSet<QString> m_seen;
};

void hammerLogin(QNetworkAccessManager &network, const QUrl &base, Figures &figures, int n,
                 const bool &running)
{
    if (!running)
        return;
    const QByteArray body = QStringLiteral(R"({"email":"guess%1@vernalo.local","password":"x%2"})")
                                .arg(n % 7)
                                .arg(n)
                                .toUtf8();
    QNetworkReply *reply = network.post(jsonRequest(base, QStringLiteral("/auth/login")), body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply, n] {
        reply->deleteLater();
        ++figures.loginAttempts;
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 429)
            ++figures.loginsRefused;
        QTimer::singleShot(50, &network,
                           [&, n] { hammerLogin(network, base, figures, n + 1000, running); });
    });
}

void sampleProcess(qint64 pid, Figures &figures)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmHWM:")
            figures.peakRssKb = std::max(figures.peakRssKb, parts[1].toLongLong());
        else if (parts.size() >= 2 && parts[0] == "Threads:")
            figures.peakThreads = std::max(figures.peakThreads, parts[1].toInt());
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int streams = envInt("VERNALO_LOAD_STREAMS", 50);
    const int seconds = envInt("VERNALO_LOAD_SECONDS", 60);
    const int hammers = envInt("VERNALO_LOAD_LOGINS", 20);

    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("script.txt")));
    if (!script.open(QIODevice::WriteOnly))
        return 1;
    for (int second = 1; second <= seconds; ++second)
        script.write(QStringLiteral("%1 sentence number %1\n").arg(second).toUtf8());
    script.close();

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(VERNALO_SERVER_BINARY),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                  dir.filePath(QStringLiteral("data")), QStringLiteral("--recognizer"),
                  QStringLiteral("script"), QStringLiteral("--script"), script.fileName(),
                  QStringLiteral("--max-sessions-per-user"), QString::number(streams + 10)});
    if (!server.waitForReadyRead(20000))
        return 1;
    const QRegularExpressionMatch url = QRegularExpression(QStringLiteral("listening on (\\S+)"))
                                            .match(QString::fromUtf8(server.readLine()));
    if (!url.hasMatch())
        return 1;
    const QUrl base(url.captured(1));

    Figures figures;
    QNetworkAccessManager network;
    int remaining = streams;
    bool hammering = true;
    std::vector<std::unique_ptr<StreamClient>> clients;
    for (int i = 0; i < streams; ++i) {
        clients.push_back(std::make_unique<StreamClient>(network, base, seconds, figures, [&] {
            if (--remaining == 0) {
                hammering = false;
                QTimer::singleShot(2000, &app, &QCoreApplication::quit);
            }
        }));
        clients.back()->begin();
    }
    for (int i = 0; i < hammers; ++i)
        hammerLogin(network, base, figures, i, hammering);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { sampleProcess(server.processId(), figures); });
    sampler.start(250);
    QTimer::singleShot((seconds + 120) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    sampleProcess(server.processId(), figures);
    server.terminate();
    server.waitForFinished(10000);

    std::printf("streams %d x %d s, %d login clients\n", streams, seconds, hammers);
    std::printf("sessions completed      %d / %d\n", figures.sessionsCompleted, streams);
    std::printf("finals lost             %d\n", figures.finalsLost);
    std::printf("login attempts          %d, refused by back-off %d\n", figures.loginAttempts,
                figures.loginsRefused);
    std::printf("server peak RSS         %lld MiB\n", figures.peakRssKb / 1024);
    std::printf("server peak threads     %d\n", figures.peakThreads);
    return figures.sessionsCompleted == streams && figures.finalsLost == 0 ? 0 : 1;
}
