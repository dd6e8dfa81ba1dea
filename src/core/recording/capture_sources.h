#pragma once

#include "foundation/models.h"

#include <QList>
#include <QObject>
#include <QVariantList>

namespace vernalo {

// The source pickers as the screens show them: the microphones with the recommended one, the
// displays and applications of system audio, and the current choice of each (0 or empty: the
// automatic choice). The controller fills them from the sound server and the configuration.
class CaptureSources : public QObject
{
    Q_OBJECT
    // Options are maps: devices {id, name, isVirtual}, displays {id, name}, applications {id,
    // name, bundleIdentifier}.
    Q_PROPERTY(
        QVariantList availableInputDevices READ availableInputDeviceList NOTIFY inputDevicesChanged)
    Q_PROPERTY(
        uint selectedInputDeviceID READ selectedInputDeviceID NOTIFY selectedInputDeviceIDChanged)
    Q_PROPERTY(QString recommendedInputDeviceName READ recommendedInputDeviceName NOTIFY
                   inputDevicesChanged)
    Q_PROPERTY(QVariantList availableSystemDisplays READ availableSystemDisplayList NOTIFY
                   systemSourcesChanged)
    Q_PROPERTY(QVariantList availableSystemApplications READ availableSystemApplicationList NOTIFY
                   systemSourcesChanged)
    Q_PROPERTY(uint selectedSystemDisplayID READ selectedSystemDisplayID NOTIFY
                   selectedSystemSourceChanged)
    Q_PROPERTY(QString selectedSystemApplicationBundleID READ selectedSystemApplicationBundleID
                   NOTIFY selectedSystemSourceChanged)

public:
    explicit CaptureSources(QObject *parent = nullptr);

    const QList<AudioInputDeviceOption> &availableInputDevices() const { return m_inputDevices; }
    QVariantList availableInputDeviceList() const;
    quint32 selectedInputDeviceID() const { return m_selectedInputDeviceID; }
    QString recommendedInputDeviceName() const { return m_recommendedInputDeviceName; }
    const QList<SystemAudioDisplayOption> &availableSystemDisplays() const { return m_displays; }
    QVariantList availableSystemDisplayList() const;
    const QList<SystemAudioApplicationOption> &availableSystemApplications() const
    {
        return m_applications;
    }
    QVariantList availableSystemApplicationList() const;
    quint32 selectedSystemDisplayID() const { return m_selectedSystemDisplayID; }
    QString selectedSystemApplicationBundleID() const
    {
        return m_selectedSystemApplicationBundleID;
    }

    void setInputDevices(const QList<AudioInputDeviceOption> &devices,
                         const QString &recommendedName);
    void setSelectedInputDeviceID(quint32 id);
    void setDisplays(const QList<SystemAudioDisplayOption> &displays);
    void setApplications(const QList<SystemAudioApplicationOption> &applications);
    void setSelectedSystemSource(quint32 displayID, const QString &bundleIdentifier);

Q_SIGNALS:
    void inputDevicesChanged();
    void selectedInputDeviceIDChanged();
    void systemSourcesChanged();
    void selectedSystemSourceChanged();

private:
    QList<AudioInputDeviceOption> m_inputDevices;
    quint32 m_selectedInputDeviceID = 0;
    QString m_recommendedInputDeviceName;
    QList<SystemAudioDisplayOption> m_displays;
    QList<SystemAudioApplicationOption> m_applications;
    quint32 m_selectedSystemDisplayID = 0;
    QString m_selectedSystemApplicationBundleID;
};

} // namespace vernalo
