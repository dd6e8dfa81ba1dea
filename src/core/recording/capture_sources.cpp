#include "recording/capture_sources.h"

namespace vernalo {

namespace {

QVariantList toVariantList(const auto &options)
{
    QVariantList list;
    list.reserve(options.size());
    for (const auto &option : options)
        list.append(option.toJson().toVariantMap());
    return list;
}

} // namespace

CaptureSources::CaptureSources(QObject *parent)
    : QObject(parent)
{ }

QVariantList CaptureSources::availableInputDeviceList() const
{
    return toVariantList(m_inputDevices);
}

QVariantList CaptureSources::availableSystemDisplayList() const
{
    return toVariantList(m_displays);
}

QVariantList CaptureSources::availableSystemApplicationList() const
{
    return toVariantList(m_applications);
}

void CaptureSources::setInputDevices(const QList<AudioInputDeviceOption> &devices,
                                     const QString &recommendedName)
{
    if (devices == m_inputDevices && recommendedName == m_recommendedInputDeviceName)
        return;
    m_inputDevices = devices;
    m_recommendedInputDeviceName = recommendedName;
    emit inputDevicesChanged();
}

void CaptureSources::setSelectedInputDeviceID(quint32 id)
{
    if (m_selectedInputDeviceID == id)
        return;
    m_selectedInputDeviceID = id;
    emit selectedInputDeviceIDChanged();
}

void CaptureSources::setDisplays(const QList<SystemAudioDisplayOption> &displays)
{
    if (displays == m_displays)
        return;
    m_displays = displays;
    emit systemSourcesChanged();
}

void CaptureSources::setApplications(const QList<SystemAudioApplicationOption> &applications)
{
    if (applications == m_applications)
        return;
    m_applications = applications;
    emit systemSourcesChanged();
}

void CaptureSources::setSelectedSystemSource(quint32 displayID, const QString &bundleIdentifier)
{
    if (m_selectedSystemDisplayID == displayID &&
        m_selectedSystemApplicationBundleID == bundleIdentifier)
        return;
    m_selectedSystemDisplayID = displayID;
    m_selectedSystemApplicationBundleID = bundleIdentifier;
    emit selectedSystemSourceChanged();
}

} // namespace vernalo
