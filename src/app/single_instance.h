#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vernalo {

// One running Vernalo per user: a second start hands over to the first (which raises its
// window) and ends, so two recorders never share one history and one keyring.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);

    // True when another instance answered and was asked to show itself; this one should end.
    bool handOverToRunning();
    // Listens for later starts; false when the name cannot be taken.
    bool listen();

Q_SIGNALS:
    void activationRequested();

private:
    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace vernalo
