#include "wire/json_fields.h"

#include <cmath>
#include <QJsonArray>
#include <QTimeZone>

namespace vernalo {

namespace {
constexpr qint64 kReferenceEpochSecs = 978307200; // 2001-01-01T00:00:00Z
}

bool JsonReader::has(const char *key) const
{
    const auto value = m_object.value(QLatin1String(key));
    return !value.isUndefined() && !value.isNull();
}

void JsonReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
}

void JsonReader::wrongType(const char *key, const char *expected)
{
    fail(QStringLiteral("%1: expected %2").arg(QLatin1String(key), QLatin1String(expected)));
}

std::optional<QString> JsonReader::optionalString(const char *key)
{
    if (!has(key))
        return std::nullopt;
    const auto value = m_object.value(QLatin1String(key));
    if (!value.isString()) {
        wrongType(key, "string");
        return std::nullopt;
    }
    return value.toString();
}

std::optional<double> JsonReader::optionalDouble(const char *key)
{
    if (!has(key))
        return std::nullopt;
    const auto value = m_object.value(QLatin1String(key));
    if (!value.isDouble()) {
        wrongType(key, "number");
        return std::nullopt;
    }
    return value.toDouble();
}

std::optional<bool> JsonReader::optionalBool(const char *key)
{
    if (!has(key))
        return std::nullopt;
    const auto value = m_object.value(QLatin1String(key));
    if (!value.isBool()) {
        wrongType(key, "boolean");
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<qint64> JsonReader::optionalInt(const char *key)
{
    const auto number = optionalDouble(key);
    if (!number)
        return std::nullopt;
    // Integers must be whole and inside the range a double holds exactly.
    if (std::trunc(*number) != *number || std::abs(*number) > 9007199254740992.0) {
        wrongType(key, "integer");
        return std::nullopt;
    }
    return static_cast<qint64>(*number);
}

std::optional<quint32> JsonReader::optionalUInt32(const char *key)
{
    const auto number = optionalInt(key);
    if (!number)
        return std::nullopt;
    if (*number < 0 || *number > 0xFFFFFFFFLL) {
        wrongType(key, "unsigned 32-bit integer");
        return std::nullopt;
    }
    return static_cast<quint32>(*number);
}

std::optional<QUuid> JsonReader::optionalUuid(const char *key)
{
    const auto text = optionalString(key);
    if (!text)
        return std::nullopt;
    const QUuid id = QUuid::fromString(*text);
    // QUuid accepts braces; a stored UUID is the bare 36-character form.
    if (id.isNull() || text->size() != 36) {
        wrongType(key, "UUID");
        return std::nullopt;
    }
    return id;
}

std::optional<QJsonArray> JsonReader::optionalArray(const char *key)
{
    if (!has(key))
        return std::nullopt;
    const auto value = m_object.value(QLatin1String(key));
    if (!value.isArray()) {
        wrongType(key, "array");
        return std::nullopt;
    }
    return value.toArray();
}

std::optional<QJsonObject> JsonReader::optionalObject(const char *key)
{
    if (!has(key))
        return std::nullopt;
    const auto value = m_object.value(QLatin1String(key));
    if (!value.isObject()) {
        wrongType(key, "object");
        return std::nullopt;
    }
    return value.toObject();
}

template<typename T> T JsonReader::required(const char *key, std::optional<T> value)
{
    if (!value) {
        if (ok())
            fail(QStringLiteral("%1: missing").arg(QLatin1String(key)));
        return T {};
    }
    return *value;
}

QString JsonReader::requireString(const char *key)
{
    return required(key, optionalString(key));
}
double JsonReader::requireDouble(const char *key)
{
    return required(key, optionalDouble(key));
}
bool JsonReader::requireBool(const char *key)
{
    return required(key, optionalBool(key));
}
qint64 JsonReader::requireInt(const char *key)
{
    return required(key, optionalInt(key));
}
QUuid JsonReader::requireUuid(const char *key)
{
    return required(key, optionalUuid(key));
}
QJsonArray JsonReader::requireArray(const char *key)
{
    return required(key, optionalArray(key));
}

double toReferenceSeconds(const QDateTime &date)
{
    return static_cast<double>(date.toMSecsSinceEpoch() - kReferenceEpochSecs * 1000) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds)
{
    // Checked before the conversion to an integer, which is undefined for numbers out of range.
    static const double lowestMs = static_cast<double>(
        QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch());
    static const double highestMs =
        static_cast<double>(QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), QTimeZone::utc())
                                .toMSecsSinceEpoch());
    const double epochMs = static_cast<double>(kReferenceEpochSecs) * 1000.0;
    const double ms = std::round(seconds * 1000.0) + epochMs;
    if (!(ms >= lowestMs && ms <= highestMs))
        return {};
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), QTimeZone::utc());
}

QString toIso8601(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> fromIso8601(const QString &text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    date = date.toUTC();
    if (!isWritableDate(date))
        return std::nullopt;
    return date;
}

bool isWritableDate(const QDateTime &date)
{
    if (!date.isValid())
        return false;
    const int year = date.toUTC().date().year();
    return year >= 1 && year <= 9999;
}

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace vernalo
