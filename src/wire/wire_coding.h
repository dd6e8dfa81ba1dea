#pragma once

#include "wire/json_fields.h"

#include <optional>
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vernalo::wire {

// A body that must hold exactly one JSON object (UTF-8, nothing after it).
std::optional<QJsonObject> parseObject(const QByteArray &body, QString *error = nullptr);

// Compact UTF-8 JSON, as every request and stream message is sent.
QByteArray compact(const QJsonObject &object);

// Decodes a record from a body; no value when the body is not an object or the record's own
// decoding fails.
template<typename Record>
std::optional<Record> decode(const QByteArray &body, QString *error = nullptr)
{
    const auto object = parseObject(body, error);
    if (!object)
        return std::nullopt;
    return Record::fromJson(*object, error);
}

// Reads a list of nested records; an element that is not an object or does not decode fails
// the whole reader with "key[i]: reason".
template<typename Record>
QList<Record> readList(JsonReader &reader, const char *key, const QJsonArray &array)
{
    QList<Record> items;
    items.reserve(array.size());
    for (qsizetype i = 0; i < array.size() && reader.ok(); ++i) {
        const QJsonValue value = array.at(i);
        if (!value.isObject()) {
            reader.fail(QStringLiteral("%1[%2]: expected object").arg(QLatin1String(key)).arg(i));
            break;
        }
        QString inner;
        auto item = Record::fromJson(value.toObject(), &inner);
        if (!item) {
            reader.fail(QStringLiteral("%1[%2].%3").arg(QLatin1String(key)).arg(i).arg(inner));
            break;
        }
        items.append(std::move(*item));
    }
    return items;
}

// Reads an optional nested record; a present value that is not a valid record fails the reader.
template<typename Record>
std::optional<Record> readOptionalObject(JsonReader &reader, const char *key)
{
    const auto object = reader.optionalObject(key);
    if (!object)
        return std::nullopt;
    QString inner;
    auto record = Record::fromJson(*object, &inner);
    if (!record)
        reader.fail(QStringLiteral("%1.%2").arg(QLatin1String(key), inner));
    return record;
}

template<typename Record> QJsonArray writeList(const QList<Record> &items)
{
    QJsonArray array;
    for (const auto &item : items)
        array.append(item.toJson());
    return array;
}

// Inserts key only when the value is present.
template<typename T>
void insertOptional(QJsonObject &object, const char *key, const std::optional<T> &value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}

// Finishes a decode: the record, or no value with the reader's first error.
template<typename Record>
std::optional<Record> finish(const JsonReader &reader, Record record, QString *error)
{
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return record;
}

} // namespace vernalo::wire
