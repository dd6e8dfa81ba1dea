#pragma once

#include <QString>
#include <QStringList>

namespace vernalo {

struct StartupFontFile
{
    QString label; // "font-regular", "font-medium", "font-heavy", "font-black"
    QString path;
};

struct StartupScan
{
    QString resourceRoot; // the folder the resources were taken from
    QStringList candidates; // resource folders looked at, in order
    QList<StartupFontFile> fonts; // brand font files found
};

// Looks for the program's resource folders (fonts, logo) and writes what it found to the log,
// so a support case can tell a broken installation from a broken feature.
//   candidates: resource folders in priority order; the first that holds "fonts/" is used.
StartupScan scanStartupResources(const QStringList &candidates, const QString &desktopFileId,
                                 const QString &version, const QString &buildNumber);

// The resource folders of this build: the compiled-in resources, then the installed data folder.
QStringList defaultResourceCandidates(const QString &applicationDirPath);

// Registers the font files with the application; returns how many loaded.
int registerStartupFonts(const StartupScan &scan);

} // namespace vernalo
