#pragma once

#include <QString>

namespace vernalo::SessionStatusText {

// Status lines the controller shows after history and export actions.
inline QString sessionLoaded()
{
    return QStringLiteral("Sessio ladattu");
}
inline QString saved(const QString &fileName)
{
    return QStringLiteral("Tallennettu: ") + fileName;
}
inline QString saveFailed()
{
    return QStringLiteral("Tallennus epäonnistui");
}
inline QString autoExported(const QString &fileName)
{
    return QStringLiteral("Auto-export: ") + fileName;
}
inline QString autoExportFailed()
{
    return QStringLiteral("Auto-export epäonnistui");
}
inline QString transcriptCopied()
{
    return QStringLiteral("Kopioitu leikepöydälle");
}
inline QString sessionIdCopied()
{
    return QStringLiteral("Sessio-ID kopioitu");
}

} // namespace vernalo::SessionStatusText
