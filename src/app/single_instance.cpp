#include "single_instance.h"

#include "foundation/app_log.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace vernalo {

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
    , m_name(QStringLiteral("com.kestrova.vernalo-%1").arg(::getuid()))
{ }

bool SingleInstance::handOverToRunning()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("raise\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    AppLog::write(QStringLiteral("second instance handed over to the running one"));
    return true;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered, so a name left over is a crashed run's socket file.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            emit activationRequested();
        }
    });
    return true;
}

} // namespace vernalo
