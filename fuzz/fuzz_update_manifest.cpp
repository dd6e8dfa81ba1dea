// The published update manifest, as the update check fetches and compares it.

#include "fuzz_support.h"
#include "updates/semantic_version.h"
#include "wire/app_update_manifest.h"
#include "wire/wire_coding.h"

#include <QStringList>

using namespace vernalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body = fuzz::inputBytes(data, size);
    QString error;
    const auto manifest = wire::decode<AppUpdateManifest>(body, &error);
    if (!manifest) {
        FUZZ_CHECK(!error.isEmpty(), body);
        return 0;
    }
    const QByteArray again = wire::compact(manifest->toJson());
    const auto reread = wire::decode<AppUpdateManifest>(again);
    FUZZ_CHECK(reread && *reread == *manifest, body + " -> " + again);

    // The version comparison decides whether a download page opens; it must order any two
    // versions consistently whichever side the manifest's text is on.
    const QString version = manifest->version;
    FUZZ_CHECK(compareSemanticVersion(version, version) == 0, body);
    const QStringList others {QStringLiteral("0.1.0"), QStringLiteral("1.10"),
                              QStringLiteral("2026.3.1-beta"),
                              manifest->buildNumber.value_or(QString()),
                              manifest->minimumSystemVersion.value_or(QString())};
    for (const QString &other : others) {
        const int forward = compareSemanticVersion(version, other);
        FUZZ_CHECK(forward >= -1 && forward <= 1, body);
        FUZZ_CHECK(forward == -compareSemanticVersion(other, version), body);
    }
    return 0;
}
