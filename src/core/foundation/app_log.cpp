#include "foundation/app_log.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <thread>

namespace vernalo {

namespace {

// One serial worker: appends and snapshots run in the order they were queued.
class LogWorker
{
public:
    LogWorker()
        : m_thread([this] { run(); })
    { }

    ~LogWorker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void post(std::function<void()> task)
    {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                if (m_tasks.empty())
                    return; // stopping, and everything queued has been written
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};

LogWorker &worker()
{
    static LogWorker instance;
    return instance;
}

std::atomic<qint64> g_maxFileBytes {AppLog::kDefaultMaxFileBytes};

// The log names devices, sessions and addresses: only its owner reads it.
constexpr auto kOwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto kOwnerOnlyDir = kOwnerOnlyFile | QFileDevice::ExeOwner;

void appendLine(const QString &path, const QByteArray &line)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, kOwnerOnlyDir);
    }
    QFile file(path);
    if (file.exists() && file.size() + line.size() > g_maxFileBytes.load()) {
        QFile::remove(path + QStringLiteral(".1"));
        QFile::rename(path, path + QStringLiteral(".1"));
    }
    // One open, write, close per line: a crash loses at most the line being written.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append, kOwnerOnlyFile))
        file.write(line);
}

// The last `maxBytes` (+1, so a cut character shows) of a file; empty when unreadable.
QByteArray readTail(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    if (size > maxBytes && maxBytes > 0) {
        file.seek(size - maxBytes - 1);
        return file.read(maxBytes + 1);
    }
    return file.readAll();
}

double nowSecondsSince1970()
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<double>(micros) / 1e6;
}

} // namespace

QString AppLog::formatTimestamp(double secondsSince1970)
{
    QString text = QString::number(secondsSince1970, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

QString AppLog::currentLogURL()
{
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || !QDir::isAbsolutePath(stateHome)) {
        const QString home = QDir::homePath();
        stateHome = home.isEmpty() ? QDir::tempPath() : home + QStringLiteral("/.local/state");
    }
    return stateHome + QStringLiteral("/Vernalo/desktop.log");
}

void AppLog::write(const QString &message)
{
    const QByteArray line =
        (formatTimestamp(nowSecondsSince1970()) + QLatin1Char(' ') + message + QLatin1Char('\n'))
            .toUtf8();
    const QString path = currentLogURL();
    worker().post([path, line] { appendLine(path, line); });
}

QString AppLog::decodeTail(const QByteArray &content, qint64 maxBytes)
{
    if (content.isEmpty() || maxBytes <= 0)
        return {};
    if (content.size() <= maxBytes) {
        QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = strict.decode(content);
        return strict.hasError() ? QString() : text;
    }
    // Lenient decoding turns a character cut at the start of the tail into U+FFFD.
    return QString::fromUtf8(content.right(maxBytes));
}

QString AppLog::snapshot(qint64 maxBytes)
{
    const QString path = currentLogURL();
    std::promise<QString> result;
    auto future = result.get_future();
    worker().post([&result, path, maxBytes] {
        QByteArray content = readTail(path, maxBytes);
        // A file started by rotation moments ago is topped up from the one before it.
        if (content.size() < maxBytes)
            content.prepend(readTail(path + QStringLiteral(".1"), maxBytes - content.size()));
        result.set_value(decodeTail(content, maxBytes));
    });
    return future.get();
}

void AppLog::setMaxFileBytes(qint64 bytes)
{
    g_maxFileBytes = bytes;
}

void AppLog::flush()
{
    std::promise<void> done;
    auto future = done.get_future();
    worker().post([&done] { done.set_value(); });
    future.wait();
}

} // namespace vernalo
