#include "fault_support.h"

#include "foundation/build_info.h"
#include "support/socket_wait.h"

#include <algorithm>
#include <csignal>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace vernalo::test {

ServerChild::ServerChild(QString dataDir, QString scriptPath)
    : m_dataDir(std::move(dataDir))
    , m_scriptPath(std::move(scriptPath))
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

ServerChild::~ServerChild()
{
    if (isRunning()) {
        thaw();
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ServerChild::start(QString *why)
{
    QElapsedTimer took;
    took.start();
    m_frozen = false;
    m_process.start(QStringLiteral(VERNALO_SERVER_BINARY),
                    {QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--data"),
                     m_dataDir, QStringLiteral("--demo-user"),
                     QStringLiteral("faults@vernalo.local:faults"), QStringLiteral("--recognizer"),
                     QStringLiteral("script"), QStringLiteral("--script"), m_scriptPath});
    static const QRegularExpression listening(
        QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    QByteArray output;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && isRunning()) {
        m_process.waitForReadyRead(200);
        output += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(output));
        if (match.hasMatch()) {
            m_port = static_cast<quint16>(match.captured(1).toUInt());
            m_lastStartMs = took.elapsed();
            return true;
        }
    }
    if (why)
        *why = QString::fromUtf8(output + m_process.readAllStandardError());
    return false;
}

void ServerChild::kill()
{
    if (!isRunning())
        return;
    thaw();
    m_process.kill();
    m_process.waitForFinished(5000);
}

void ServerChild::freeze()
{
    if (isRunning() && !m_frozen) {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP);
        m_frozen = true;
    }
}

void ServerChild::thaw()
{
    if (isRunning() && m_frozen) {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
        m_frozen = false;
    }
}

QUrl ServerChild::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

QByteArray numberedScript(int seconds)
{
    QByteArray script = "# one numbered final per second of audio\n";
    for (int i = 1; i <= seconds; ++i)
        script += QByteArray::number(i) + " segment " + QByteArray::number(i) + "\n";
    return script;
}

int segmentNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^segment (\\d+)$"));
    const auto match = pattern.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

ServerCalls::ServerCalls(QUrl base)
    : m_base(std::move(base))
    , m_apiKey(buildinfo::defaultSharedAPIKey())
{ }

std::optional<QJsonObject> ServerCalls::send(const QByteArray &method, const QString &path,
                                             const QByteArray &body)
{
    QUrl url = m_base;
    const qsizetype query = path.indexOf(QLatin1Char('?'));
    url.setPath(query < 0 ? path : path.left(query));
    if (query >= 0)
        url.setQuery(path.mid(query + 1));
    QNetworkRequest request(url);
    request.setRawHeader("x-api-key", m_apiKey.toUtf8());
    if (!m_token.isEmpty())
        request.setRawHeader("x-auth-token", m_token.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(5000);
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    const bool done = waitUntil([reply] { return reply->isFinished(); }, 8000);
    std::optional<QJsonObject> result;
    if (done && reply->error() == QNetworkReply::NoError) {
        const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
        if (document.isObject())
            result = document.object();
    }
    if (!done)
        reply->abort();
    reply->deleteLater();
    return result;
}

std::optional<QJsonObject> ServerCalls::get(const QString &path)
{
    return send("GET", path, {});
}

std::optional<QJsonObject> ServerCalls::post(const QString &path, const QJsonObject &body)
{
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

std::optional<QStringList> ServerCalls::transcriptTexts(const QString &sessionId)
{
    const auto answer = get(QStringLiteral("/v1/sessions/%1/transcript").arg(sessionId));
    if (!answer)
        return std::nullopt;
    QStringList texts;
    for (const QJsonValue &segment : answer->value(QStringLiteral("segments")).toArray())
        texts.append(segment.toObject().value(QStringLiteral("text")).toString());
    return texts;
}

std::optional<qint64> ServerCalls::audioBytes(const QString &sessionId)
{
    const auto meta = get(QStringLiteral("/v1/sessions/") + sessionId);
    if (!meta || !meta->contains(QStringLiteral("audioBytes")))
        return std::nullopt;
    return meta->value(QStringLiteral("audioBytes")).toInteger();
}

int iterationsFrom(const char *variable, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(variable, &ok);
    return ok && value > 0 ? value : fallback;
}

quint32 faultSeed()
{
    bool ok = false;
    const uint value = qEnvironmentVariable("VERNALO_FAULT_SEED").toUInt(&ok);
    return ok ? value : QRandomGenerator::global()->generate();
}

QString figureLine(const QString &name, QList<double> values, const QString &unit)
{
    if (values.isEmpty())
        return name + QStringLiteral(": no samples");
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return QStringLiteral("%1: n=%2 min=%3 median=%4 max=%5 %6")
        .arg(name)
        .arg(n)
        .arg(values.first(), 0, 'f', 0)
        .arg(median, 0, 'f', 0)
        .arg(values.last(), 0, 'f', 0)
        .arg(unit);
}

} // namespace vernalo::test
