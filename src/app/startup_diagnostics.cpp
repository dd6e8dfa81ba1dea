#include "startup_diagnostics.h"

#include "foundation/app_log.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>

namespace vernalo {

namespace {

// Brand faces: Inter stands in for the weights the design uses.
const struct
{
    const char *label;
    const char *file;
} kFontFiles[] = {
    {"font-regular", "Inter-Regular.otf"},
    {"font-medium", "Inter-Medium.otf"},
    {"font-heavy", "Inter-ExtraBold.otf"},
    {"font-black", "Inter-Black.otf"},
};

} // namespace

QStringList defaultResourceCandidates(const QString &applicationDirPath)
{
    return {QStringLiteral(":/vernalo"),
            QDir::cleanPath(applicationDirPath + QStringLiteral("/../share/vernalo"))};
}

StartupScan scanStartupResources(const QStringList &candidates, const QString &desktopFileId,
                                 const QString &version, const QString &buildNumber)
{
    StartupScan scan;
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            scan.candidates.append(candidate);
    }
    for (const QString &candidate : std::as_const(scan.candidates)) {
        if (QFileInfo(candidate + QStringLiteral("/fonts")).isDir()) {
            scan.resourceRoot = candidate;
            break;
        }
    }

    AppLog::write(QStringLiteral("startup begin bundleId=%1 version=%2 build=%3 resourceRoot=%4")
                      .arg(desktopFileId, version, buildNumber, scan.resourceRoot));
    // Linux has no usage-description keys to declare; capture access is the sound server's.
    AppLog::write(QStringLiteral("startup permissions keys mic=true screen=true systemAudio=true"));
    AppLog::write(
        QStringLiteral("startup resources bundleCandidates=%1").arg(scan.candidates.size()));
    for (int i = 0; i < scan.candidates.size(); ++i) {
        const QString &path = scan.candidates.at(i);
        AppLog::write(
            QStringLiteral("startup resources candidate[%1] name=%2 path=%3")
                .arg(i)
                .arg(QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName(),
                     path));
    }
    if (!scan.resourceRoot.isEmpty()) {
        for (const auto &font : kFontFiles) {
            const QString path =
                scan.resourceRoot + QStringLiteral("/fonts/") + QLatin1String(font.file);
            if (QFileInfo::exists(path)) {
                scan.fonts.append({QLatin1String(font.label), path});
                AppLog::write(QStringLiteral("startup resources %1=ok path=%2")
                                  .arg(QLatin1String(font.label), path));
            } else {
                AppLog::write(QStringLiteral("startup resources %1=missing path=%2")
                                  .arg(QLatin1String(font.label), path));
            }
        }
    }
    AppLog::write(QStringLiteral("startup pre-ui resource scan complete"));
    return scan;
}

int registerStartupFonts(const StartupScan &scan)
{
    int loaded = 0;
    for (const StartupFontFile &font : scan.fonts) {
        if (QFontDatabase::addApplicationFont(font.path) >= 0)
            ++loaded;
        else
            AppLog::write(
                QStringLiteral("startup font registration failed path=%1").arg(font.path));
    }
    return loaded;
}

} // namespace vernalo
