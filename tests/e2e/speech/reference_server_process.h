#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace vernalo::test {

// The reference server executable as a child of the test: started on a free port of 127.0.0.1,
// killed with the test process even after a crash, stopped and reaped by the destructor. It
// gets folders of its own, so its log never mixes with the client's.
class ReferenceServerProcess
{
public:
    explicit ReferenceServerProcess(QString binary);
    ~ReferenceServerProcess();

    ReferenceServerProcess(const ReferenceServerProcess &) = delete;
    ReferenceServerProcess &operator=(const ReferenceServerProcess &) = delete;

    // Starts with "--port 0" and the given arguments and waits for the "listening on" line.
    // False with the server's output in `error` when it did not get there.
    bool start(const QStringList &arguments, QString *error = nullptr);
    void stop();
    QUrl baseUrl() const { return m_baseUrl; }
    // Everything the server printed so far.
    QByteArray output();

private:
    QString m_binary;
    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_output;
    QUrl m_baseUrl;
};

} // namespace vernalo::test
