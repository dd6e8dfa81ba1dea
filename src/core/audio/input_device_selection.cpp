#include "audio/input_device_selection.h"

#include "foundation/app_log.h"

#include <QStringList>

namespace vernalo {

namespace {

const QStringList kVirtualNames = {QStringLiteral("blackhole"),   QStringLiteral("zoomaudio"),
                                   QStringLiteral("teams audio"), QStringLiteral("rode connect"),
                                   QStringLiteral("loopback"),    QStringLiteral("virtual")};
const QStringList kBuiltInNames = {QStringLiteral("macbook"), QStringLiteral("built-in"),
                                   QStringLiteral("sisäinen"), QStringLiteral("internal")};
const QStringList kWirelessHeadsetNames = {QStringLiteral("wh-"), QStringLiteral("wh1000"),
                                           QStringLiteral("wf-"), QStringLiteral("airpods"),
                                           QStringLiteral("bluetooth")};

bool containsAny(const QString &lowerText, const QStringList &needles)
{
    for (const QString &needle : needles) {
        if (lowerText.contains(needle))
            return true;
    }
    return false;
}

bool isStable(const InputDeviceInfo &device)
{
    return !device.isVirtual && !device.isWirelessHeadset;
}

QString displayName(const AudioSourceInfo &source)
{
    if (!source.description.trimmed().isEmpty())
        return source.description.trimmed();
    if (!source.name.isEmpty())
        return source.name;
    return QStringLiteral("AudioDevice-%1").arg(source.id);
}

} // namespace

InputTransport inputTransport(const AudioSourceInfo &source)
{
    const QString deviceClass = source.deviceClass.toLower();
    const QString bus = source.bus.toLower();
    if (source.isMonitor || deviceClass == QLatin1String("monitor") ||
        deviceClass == QLatin1String("filter") || deviceClass == QLatin1String("abstract"))
        return InputTransport::Virtual;
    if (bus == QLatin1String("bluetooth"))
        return InputTransport::Bluetooth;
    if (bus == QLatin1String("usb") || bus == QLatin1String("firewire"))
        return InputTransport::Usb;
    if (bus == QLatin1String("pci") || bus == QLatin1String("platform") ||
        bus == QLatin1String("isa") ||
        source.formFactor.compare(QLatin1String("internal"), Qt::CaseInsensitive) == 0)
        return InputTransport::BuiltIn;
    return InputTransport::Unknown;
}

InputDeviceInfo classifyInputDevice(const AudioSourceInfo &source)
{
    InputDeviceInfo device;
    device.id = source.id;
    device.name = displayName(source);
    // Both the human name and the server's name carry hints ("Virtual Source", "...internal").
    const QString text = (device.name + QLatin1Char('\n') + source.name).toLower();
    const InputTransport transport = inputTransport(source);
    device.isVirtual = containsAny(text, kVirtualNames) || transport == InputTransport::Virtual;
    device.isBuiltIn = containsAny(text, kBuiltInNames) || transport == InputTransport::BuiltIn;
    device.isWirelessHeadset =
        containsAny(text, kWirelessHeadsetNames) || transport == InputTransport::Bluetooth;
    return device;
}

QList<InputDeviceInfo> listInputDevices(const QList<AudioSourceInfo> &sources)
{
    QList<InputDeviceInfo> devices;
    for (const AudioSourceInfo &source : sources) {
        if (source.isMonitor || source.channels <= 0 || source.id == 0)
            continue;
        devices.append(classifyInputDevice(source));
    }
    return devices;
}

InputDeviceInventory inputDeviceInventory(const AudioSourceList &list)
{
    InputDeviceInventory inventory;
    inventory.devices = listInputDevices(list.sources);
    if (list.defaultSourceId) {
        for (const InputDeviceInfo &device : inventory.devices) {
            if (device.id == *list.defaultSourceId)
                inventory.defaultId = device.id;
        }
    }
    return inventory;
}

std::optional<InputDeviceInfo> rankStableCandidates(const QList<InputDeviceInfo> &devices,
                                                    std::optional<quint32> defaultId,
                                                    std::optional<quint32> excluding)
{
    QList<InputDeviceInfo> candidates;
    for (const InputDeviceInfo &device : devices) {
        if (isStable(device) && (!excluding || device.id != *excluding))
            candidates.append(device);
    }
    for (const InputDeviceInfo &device : candidates) {
        if (device.isBuiltIn)
            return device;
    }
    if (defaultId) {
        for (const InputDeviceInfo &device : candidates) {
            if (device.id == *defaultId)
                return device;
        }
    }
    if (!candidates.isEmpty())
        return candidates.first();
    return std::nullopt;
}

std::optional<InputDeviceInfo> pickPreferredInputDevice(const QList<InputDeviceInfo> &devices,
                                                        std::optional<quint32> preferredId,
                                                        std::optional<quint32> defaultId)
{
    if (devices.isEmpty())
        return std::nullopt;
    if (preferredId) {
        for (const InputDeviceInfo &requested : devices) {
            if (requested.id != *preferredId)
                continue;
            if (!requested.isWirelessHeadset)
                return requested;
            const auto fallback = rankStableCandidates(devices, defaultId, requested.id);
            if (!fallback)
                return requested;
            AppLog::write(
                QStringLiteral("microphone wireless headset avoided requested=%1 fallback=%2")
                    .arg(requested.name, fallback->name));
            return fallback;
        }
    }
    if (auto ranked = rankStableCandidates(devices, defaultId))
        return ranked;
    for (const InputDeviceInfo &device : devices) {
        if (!device.isVirtual)
            return device;
    }
    if (defaultId) {
        for (const InputDeviceInfo &device : devices) {
            if (device.id == *defaultId)
                return device;
        }
    }
    return devices.first();
}

std::optional<InputDeviceInfo> stableFallbackInputDevice(const QList<InputDeviceInfo> &devices,
                                                         quint32 id,
                                                         std::optional<quint32> defaultId)
{
    for (const InputDeviceInfo &device : devices) {
        if (device.id != id)
            continue;
        if (!device.isWirelessHeadset)
            return std::nullopt;
        auto ranked = rankStableCandidates(devices, defaultId);
        if (ranked && ranked->id != id)
            return ranked;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace vernalo
