#pragma once

#include <optional>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

namespace vernalo {

// Reads fields of one JSON object with the decoding rules every record shares: a missing key or
// a null value counts as absent; a present value of the wrong type fails the whole record. The
// first failure is kept so the caller can report which field was wrong.
class JsonReader
{
public:
    explicit JsonReader(const QJsonObject &object)
        : m_object(object)
    { }

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    bool has(const char *key) const;

    std::optional<QString> optionalString(const char *key);
    std::optional<double> optionalDouble(const char *key);
    std::optional<bool> optionalBool(const char *key);
    std::optional<qint64> optionalInt(const char *key);
    std::optional<quint32> optionalUInt32(const char *key);
    std::optional<QUuid> optionalUuid(const char *key);
    std::optional<QJsonArray> optionalArray(const char *key);
    std::optional<QJsonObject> optionalObject(const char *key);

    // Required fields record a failure when missing, null or mistyped.
    QString requireString(const char *key);
    double requireDouble(const char *key);
    bool requireBool(const char *key);
    qint64 requireInt(const char *key);
    QUuid requireUuid(const char *key);
    QJsonArray requireArray(const char *key);

    void fail(const QString &message);

private:
    template<typename T> T required(const char *key, std::optional<T> value);
    void wrongType(const char *key, const char *expected);

    QJsonObject m_object;
    QString m_error;
};

// Dates in local history files: seconds since 2001-01-01 00:00:00 UTC. Reading gives an invalid
// QDateTime for a number outside the years 1 to 9999 (UTC), which no export could write.
double toReferenceSeconds(const QDateTime &date);
QDateTime fromReferenceSeconds(double seconds);

// Dates exchanged with the services: ISO 8601 in UTC ("2026-01-02T03:04:05Z"). Reading refuses
// a time whose UTC form falls outside the years 1 to 9999 (a far offset can push it there).
QString toIso8601(const QDateTime &date);
std::optional<QDateTime> fromIso8601(const QString &text);

// Whether the date lies in the years 1 to 9999 (UTC), the only ones ISO 8601 text, exports and
// history files can hold.
bool isWritableDate(const QDateTime &date);

// Upper-case UUID text without braces, the form every stored file uses.
QString uuidText(const QUuid &id);

} // namespace vernalo
