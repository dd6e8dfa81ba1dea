#include "fault_support.h"

#include <algorithm>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace vernalo::test {

std::unique_ptr<ServerProcess> faultServer(const QString &dataDir, const QString &scriptPath)
{
    return std::make_unique<ServerProcess>(
        QStringLiteral(VERNALO_SERVER_BINARY),
        QStringList {"--data", dataDir, "--demo-user", "faults@vernalo.local:faults",
                     "--recognizer", "script", "--script", scriptPath});
}

QByteArray numberedScript(int seconds)
{
    QByteArray script = "# one numbered final per second of audio\n";
    for (int i = 1; i <= seconds; ++i)
        script += QByteArray::number(i) + " segment " + QByteArray::number(i) + "\n";
    return script;
}

int segmentNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^segment (\\d+)$"));
    const auto match = pattern.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

int iterationsFrom(const char *variable, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(variable, &ok);
    return ok && value > 0 ? value : fallback;
}

quint32 faultSeed()
{
    bool ok = false;
    const uint value = qEnvironmentVariable("VERNALO_FAULT_SEED").toUInt(&ok);
    return ok ? value : QRandomGenerator::global()->generate();
}

QString figureLine(const QString &name, QList<double> values, const QString &unit)
{
    if (values.isEmpty())
        return name + QStringLiteral(": no samples");
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return QStringLiteral("%1: n=%2 min=%3 median=%4 max=%5 %6")
        .arg(name)
        .arg(n)
        .arg(values.first(), 0, 'f', 0)
        .arg(median, 0, 'f', 0)
        .arg(values.last(), 0, 'f', 0)
        .arg(unit);
}

} // namespace vernalo::test
