#include "diagnostics/secret_redaction.h"

#include <algorithm>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace vernalo {

namespace {

constexpr qsizetype kMinimumSecretLength = 4;

QStringList secretForms(const QStringList &secrets)
{
    QSet<QString> forms;
    for (const QString &secret : secrets) {
        for (const QString &form :
             {secret, secret.trimmed(),
              QString::fromLatin1(QUrl::toPercentEncoding(secret.trimmed()))}) {
            if (form.size() >= kMinimumSecretLength)
                forms.insert(form);
        }
    }
    QStringList sorted(forms.begin(), forms.end());
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    return sorted;
}

const QRegularExpression &secretFieldPattern()
{
    // key, separator (with optional quotes and "Bearer "), value up to a delimiter.
    static const QRegularExpression pattern(
        QStringLiteral(R"(([\w-]*(?:password|passwd|token|secret|api[-_]?key|admin[-_]?key|)"
                       R"(authorization))(["']?\s*[:=]\s*["']?(?:bearer\s+)?)([^\s"'&,;}\]]+))"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression &urlCredentialsPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(([a-z][a-z0-9+.-]*://[^\s/:@"']+:)([^\s/@"']+)(@))"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

QString redactWithForms(QString text, const QStringList &forms)
{
    static const QString marker = QString::fromLatin1(kRedactedMarker);
    for (const QString &form : forms) {
        if (text.contains(form))
            text.replace(form, marker);
    }
    // The patterns only where their words occur: most strings (transcript lines, levels) have
    // none, and a plain search is far cheaper than a regular expression.
    static const QLatin1String keyWords[] {QLatin1String("pass"), QLatin1String("token"),
                                           QLatin1String("secret"), QLatin1String("key"),
                                           QLatin1String("authorization")};
    const bool mayHoldField =
        std::any_of(std::begin(keyWords), std::end(keyWords), [&text](QLatin1String word) {
            return text.contains(word, Qt::CaseInsensitive);
        });
    if (mayHoldField)
        text.replace(secretFieldPattern(), QStringLiteral("\\1\\2") + marker);
    if (text.contains(QLatin1String("://")) && text.contains(u'@'))
        text.replace(urlCredentialsPattern(),
                     QStringLiteral("\\1") + marker + QStringLiteral("\\3"));
    return text;
}

QJsonValue redactValue(const QJsonValue &value, const QStringList &forms);

QJsonObject redactObject(const QJsonObject &object, const QStringList &forms)
{
    QJsonObject result;
    for (auto it = object.begin(); it != object.end(); ++it)
        result.insert(it.key(), redactValue(it.value(), forms));
    return result;
}

QJsonValue redactValue(const QJsonValue &value, const QStringList &forms)
{
    if (value.isString())
        return redactWithForms(value.toString(), forms);
    if (value.isObject())
        return redactObject(value.toObject(), forms);
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue &element : value.toArray())
            array.append(redactValue(element, forms));
        return array;
    }
    return value;
}

} // namespace

QString redactSecrets(const QString &text, const QStringList &secrets)
{
    return redactWithForms(text, secretForms(secrets));
}

QJsonObject redactSecrets(const QJsonObject &object, const QStringList &secrets)
{
    return redactObject(object, secretForms(secrets));
}

} // namespace vernalo
