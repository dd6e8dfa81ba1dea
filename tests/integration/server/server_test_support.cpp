#include "server_test_support.h"

#include "script_recognizer.h"

namespace vernalo::test {

InProcessServer::InProcessServer(const QString &script, server::ServerOptions options)
    : InProcessServer(
          [script]() -> std::unique_ptr<server::RecognizerFactory> {
              QString error;
              const auto entries = server::parseRecognitionScript(script, &error);
              return entries ? std::make_unique<server::ScriptRecognizerFactory>(*entries)
                             : nullptr;
          },
          std::move(options))
{ }

InProcessServer::InProcessServer(
    std::function<std::unique_ptr<server::RecognizerFactory>()> recognizers,
    server::ServerOptions options)
    : m_recognizers(std::move(recognizers))
    , m_options(std::move(options))
{
    m_options.port = 0;
    m_options.dataDir = m_dir.path();
    m_options.passwordIterations = 1000;
}

bool InProcessServer::start(QString *error)
{
    auto recognizers = m_recognizers();
    if (!recognizers) {
        *error = QStringLiteral("no recognizer");
        return false;
    }
    m_server =
        std::make_unique<server::ReferenceServer>(m_options, m_clock, std::move(recognizers));
    if (!m_server->start(error))
        return false;
    m_port = m_server->port();
    return true;
}

bool InProcessServer::restart(QString *error)
{
    m_server.reset();
    m_options.port = m_port;
    return start(error);
}

} // namespace vernalo::test
