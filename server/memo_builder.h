#pragma once

#include "session_store.h"
#include "stt_wire.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace vernalo::server {

// Everything a memo document shows, in the session's language where one is known.
struct Memo
{
    MemoContent content;
    QString dateLine;
    QString keyPointsHeading;
    QString transcriptHeading;
    QStringList keySentences;
    QStringList transcriptLines;
};

// An extractive memo: the sentences whose words recur most across the transcript are the key
// points, kept in spoken order. No language model is involved, so results are reproducible.
class MemoBuilder
{
public:
    static Memo build(const QList<StoredSegment> &segments, const QString &language,
                      const QDateTime &sessionStart);

    // The key sentences of a text list, at most `limit`, in their original order.
    static QStringList keySentences(const QStringList &sentences, int limit);
    // Splits recognized text into sentences at . ! ? and trims them.
    static QStringList splitSentences(const QString &text);
};

// The transcript a memo is made from: the server's segments, completed by the client's copy
// where the server missed something (same text in the same second counts as present).
QList<StoredSegment> mergeMemoSegments(const QList<StoredSegment> &server,
                                       const QList<SummaryGenerateRequest::Segment> &fallback,
                                       const QDateTime &fallbackTime);

} // namespace vernalo::server
