#pragma once

#include <optional>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace vernalo::server {

// The one SQLite file of the server. WAL journal with synchronous=FULL: every commit reaches the
// disk before it returns, so neither a killed process nor a power loss takes a committed row, and
// readers do not block the writer.
class ServerDatabase
{
public:
    ServerDatabase() = default;
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    // Creates the folder (owner-only when made here) and the file, and brings the schema up to
    // date.
    bool open(const QString &dataDir, QString *error);
    QString filePath() const { return m_filePath; }

    // A prepared query on this connection; failures are logged with the statement.
    QSqlQuery prepare(const QString &statement) const;
    bool exec(QSqlQuery &query) const;

    bool transaction();
    bool commit();
    void rollback();

    // Times are stored as ISO 8601 UTC with milliseconds, so text order is time order.
    static QString timeText(const QDateTime &time);
    static std::optional<QDateTime> timeFrom(const QVariant &value);

private:
    bool migrate(QString *error);

    QString m_connectionName;
    QString m_filePath;
};

} // namespace vernalo::server
