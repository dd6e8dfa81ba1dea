#pragma once

#include "recognizer.h"
#include "reference_server.h"
#include "support/fake_clock.h"
#include "support/reference_backend.h"

#include <functional>
#include <memory>
#include <QTemporaryDir>

namespace vernalo::test {

// A ReferenceServer in this process on a free port, with its own data folder, fake clock and
// the script recognizer (or any other, made anew at every start).
class InProcessServer
{
public:
    explicit InProcessServer(const QString &script, server::ServerOptions options = {});
    InProcessServer(std::function<std::unique_ptr<server::RecognizerFactory>()> recognizers,
                    server::ServerOptions options = {});

    bool start(QString *error);
    // Destroys and recreates the server on the same folder and port (a clean restart).
    bool restart(QString *error);
    server::ReferenceServer &server() { return *m_server; }
    FakeClock &clock() { return m_clock; }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    quint16 port() const { return m_port; }
    server::ServerOptions &options() { return m_options; }

private:
    std::function<std::unique_ptr<server::RecognizerFactory>()> m_recognizers;
    QTemporaryDir m_dir;
    server::ServerOptions m_options;
    FakeClock m_clock;
    std::unique_ptr<server::ReferenceServer> m_server;
    quint16 m_port = 0;
};

} // namespace vernalo::test
