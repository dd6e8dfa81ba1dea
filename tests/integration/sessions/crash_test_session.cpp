#include "crash_test_session.h"

#include "wire/json_fields.h"

namespace vernalo::test {

QString crashTestSessionId(int slot)
{
    return QStringLiteral("crash-%1").arg(QChar(u'a' + slot));
}

SavedSession crashTestSession(int slot, qint64 version)
{
    SavedSession session {crashTestSessionId(slot),
                          fromReferenceSeconds(790000000.0 + version),
                          fromReferenceSeconds(790000600.5 + version),
                          QStringLiteral("fi-FI"),
                          QStringLiteral("v%1").arg(version),
                          {}};
    const int count = 1 + static_cast<int>((version * 7919 + slot * 104729) % 400);
    for (int i = 0; i < count; ++i) {
        const QUuid id(static_cast<uint>(version), static_cast<ushort>(slot), 0x4000, 0x80, 0, 0, 0,
                       static_cast<uchar>(i >> 16), static_cast<uchar>(i >> 8),
                       static_cast<uchar>(i), 1);
        session.segments.append(
            {id, QStringLiteral("versio %1 rivi %2: \"sama\" teksti").arg(version).arg(i),
             fromReferenceSeconds(790000001.25 + version + i),
             i % 3 ? std::optional(QStringLiteral("S%1").arg(i % 3)) : std::nullopt});
    }
    return session;
}

qint64 crashTestVersion(const SavedSession &session)
{
    bool ok = false;
    const qint64 version = session.sttModel.mid(1).toLongLong(&ok);
    return ok && session.sttModel.startsWith(u'v') ? version : -1;
}

} // namespace vernalo::test
