#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vernalo::server {

// A Word document (Office Open XML) built in memory with libzip: title, a date line, a bulleted
// key point section and the full transcript.
struct DocxContent
{
    QString title;
    QString dateLine;
    QString keyPointsHeading;
    QStringList keyPoints;
    QString transcriptHeading;
    QStringList transcriptLines;
    QDateTime created;
};

class DocxWriter
{
public:
    // Empty on failure.
    static QByteArray write(const DocxContent &content);
    // Drops characters XML 1.0 cannot carry (most control characters, lone surrogates).
    static QString xmlSafe(const QString &text);
};

} // namespace vernalo::server
