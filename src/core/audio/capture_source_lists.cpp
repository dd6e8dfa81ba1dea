#include "audio/capture_source_lists.h"

#include "foundation/app_log.h"

#include <algorithm>
#include <QCollator>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>

namespace vernalo {

namespace {

QString nameInList(const QList<AudioInputDeviceOption> &options, quint32 id)
{
    for (const AudioInputDeviceOption &option : options) {
        if (option.id == id)
            return option.name;
    }
    return {};
}

QCollator nameCollator()
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

} // namespace

InputDeviceRefresh refreshInputDevices(const InputDeviceInventory &inventory,
                                       quint32 selectedInputDeviceID)
{
    InputDeviceRefresh refresh;
    for (const InputDeviceInfo &device : inventory.devices)
        refresh.availableInputDevices.append(device.option());
    if (const auto ranked = rankStableCandidates(inventory.devices, inventory.defaultId))
        refresh.recommendedInputDeviceName = ranked->name;

    refresh.selectedInputDeviceID = selectedInputDeviceID;
    const bool listed = std::any_of(inventory.devices.begin(), inventory.devices.end(),
                                    [selectedInputDeviceID](const InputDeviceInfo &d) {
                                        return d.id == selectedInputDeviceID;
                                    });
    if (selectedInputDeviceID != 0 && !listed) {
        refresh.selectedInputDeviceID = 0;
        refresh.selectionChanged = true;
    }
    if (refresh.selectedInputDeviceID != 0) {
        const StableInputSelection stable = stableInputDeviceSelection(
            refresh.selectedInputDeviceID, inventory, refresh.availableInputDevices);
        if (stable.id != refresh.selectedInputDeviceID) {
            refresh.selectedInputDeviceID = stable.id;
            refresh.selectionChanged = true;
            AppLog::write(
                QStringLiteral("microphone config normalized to stable fallback id=%1 name=%2")
                    .arg(stable.id)
                    .arg(stable.name));
        }
    }
    return refresh;
}

StableInputSelection stableInputDeviceSelection(quint32 id, const InputDeviceInventory &inventory,
                                                const QList<AudioInputDeviceOption> &available)
{
    if (id == 0)
        return {};
    const auto fallback = stableFallbackInputDevice(inventory.devices, id, inventory.defaultId);
    if (!fallback)
        return {id, nameInList(available, id)};
    QString requested = nameInList(available, id);
    if (requested.isEmpty())
        requested = QStringLiteral("valittu Bluetooth-mikrofoni");
    AppLog::write(QStringLiteral("microphone selection fallback requested=%1 fallback=%2")
                      .arg(requested, fallback->name));
    return {fallback->id, fallback->name};
}

SystemAudioDisplayOption displayOption(const AudioDisplayInfo &display)
{
    return {
        display.id,
        QStringLiteral("Näyttö %1 (%2x%3)").arg(display.id).arg(display.width).arg(display.height)};
}

QList<SystemAudioApplicationOption>
groupApplicationSources(const QList<AudioPlaybackInfo> &playbacks, qint64 ownProcessId,
                        const QString &ownApplicationId)
{
    const QCollator collator = nameCollator();
    QMap<QString, QStringList> namesById;
    for (const AudioPlaybackInfo &playback : playbacks) {
        if (playback.applicationId.isEmpty() || playback.applicationId == ownApplicationId)
            continue;
        if (ownProcessId != 0 && playback.processId == ownProcessId)
            continue;
        namesById[playback.applicationId].append(playback.applicationName.trimmed());
    }
    QList<SystemAudioApplicationOption> options;
    for (auto it = namesById.begin(); it != namesById.end(); ++it) {
        QStringList names = it.value();
        std::stable_sort(
            names.begin(), names.end(),
            [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
        // A stream without a name must not hide the name its siblings carry.
        const auto named =
            std::find_if(names.begin(), names.end(), [](const QString &n) { return !n.isEmpty(); });
        const QString name = named == names.end() ? it.key() : *named;
        options.append({it.key(), name, it.key()});
    }
    std::stable_sort(
        options.begin(), options.end(),
        [&collator](const SystemAudioApplicationOption &a, const SystemAudioApplicationOption &b) {
            return collator.compare(a.name, b.name) < 0;
        });
    return options;
}

QString ownApplicationId()
{
    if (!QCoreApplication::instance())
        return {};
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

quint32 normalizedDisplaySelection(const QList<SystemAudioDisplayOption> &displays,
                                   quint32 selected)
{
    if (selected == 0)
        return 0;
    const bool present = std::any_of(displays.begin(), displays.end(),
                                     [selected](const auto &d) { return d.id == selected; });
    return present ? selected : 0;
}

QString normalizedApplicationSelection(const QList<SystemAudioApplicationOption> &applications,
                                       const QString &selected)
{
    if (selected.isEmpty())
        return {};
    const bool present = std::any_of(applications.begin(), applications.end(),
                                     [&selected](const auto &a) { return a.id == selected; });
    return present ? selected : QString();
}

} // namespace vernalo
