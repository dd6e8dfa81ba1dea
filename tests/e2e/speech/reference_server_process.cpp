#include "reference_server_process.h"

#include <csignal>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <sys/prctl.h>

namespace vernalo::test {

namespace {
constexpr int kStartDeadlineMs = 20000;
}

ReferenceServerProcess::ReferenceServerProcess(QString binary)
    : m_binary(std::move(binary))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *folder :
         {"XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.insert(QLatin1String(folder),
                           m_home.filePath(QLatin1String(folder).toString().toLower()));
    m_process.setProcessEnvironment(environment);
}

ReferenceServerProcess::~ReferenceServerProcess()
{
    stop();
}

bool ReferenceServerProcess::start(const QStringList &arguments, QString *error)
{
    static const QRegularExpression listening(
        QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+)"));
    m_output.clear();
    m_process.start(m_binary,
                    QStringList {QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    QDeadlineTimer deadline(kStartDeadlineMs);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(200);
        m_output += m_process.readAll();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_baseUrl = QUrl(match.captured(1));
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("the reference server did not start: ") +
            QString::fromUtf8(m_output.right(4000));
    stop();
    return false;
}

void ReferenceServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray ReferenceServerProcess::output()
{
    m_output += m_process.readAll();
    return m_output;
}

} // namespace vernalo::test
