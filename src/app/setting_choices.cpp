#include "setting_choices.h"

#include "foundation/mix_ranges.h"

namespace vernalo {

namespace {

template<typename Values> QVariantList rows(const Values &values, const char *key)
{
    QVariantList list;
    for (auto value : values)
        list.append(QVariantMap {{QLatin1String(key), int(value)},
                                 {QStringLiteral("value"), rawValue(value)},
                                 {QStringLiteral("label"), label(value)}});
    return list;
}

} // namespace

SettingChoices::SettingChoices(QObject *parent)
    : QObject(parent)
{ }

QVariantList SettingChoices::inputModes()
{
    return rows(kAllAudioInputModes, "mode");
}
QVariantList SettingChoices::exportFormats()
{
    return rows(kAllExportFormats, "format");
}
QVariantList SettingChoices::mixPresets()
{
    return rows(kAllMixPresets, "preset");
}
double SettingChoices::minGain()
{
    return kMinGain;
}
double SettingChoices::maxGain()
{
    return kMaxGain;
}
double SettingChoices::maxDuckingStrength()
{
    return kMaxDuckingStrength;
}

QString SettingChoices::inputModeValue(InputMode mode)
{
    return rawValue(static_cast<AudioInputMode>(mode));
}

} // namespace vernalo
