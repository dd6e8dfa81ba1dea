import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "settingsCard"
    title: qsTr("Asetukset")

    readonly property bool locked: transcription.isRecording || transcription.isStartingRecording

    RowLayout {
        spacing: 12
        Repeater {
            model: [{ value: "microphone", label: qsTr("Mikrofoni") },
                    { value: "systemAudio", label: qsTr("Systeemiääni") },
                    { value: "microphoneAndSystem", label: qsTr("Mikki + systeemiääni") }]
            RadioButton {
                objectName: "inputMode_" + modelData.value
                text: modelData.label
                Accessible.name: text
                enabled: !locked
                checked: transcription.inputMode === modelData.value
                onToggled: if (checked) transcription.inputMode = modelData.value
            }
        }
    }
    CheckBox {
        objectName: "allowSystemFallback"
        text: qsTr("Automaattinen varatila systeemiäänelle")
        Accessible.name: text
        checked: transcription.allowSystemFallback
        onToggled: transcription.allowSystemFallback = checked
    }
    GridLayout {
        columns: 2
        columnSpacing: 12
        Label { text: qsTr("Kieli") }
        ComboBox {
            objectName: "languageBox"
            Accessible.name: qsTr("Kieli")
            model: transcription.availableLanguages
            currentIndex: model.indexOf(transcription.language)
            onActivated: transcription.language = currentText
        }
        Label { text: qsTr("STT-malli") }
        ComboBox {
            objectName: "modelBox"
            Accessible.name: qsTr("STT-malli")
            // The server may name a model of its own while recording; it shows as it is.
            model: transcription.availableModels.indexOf(transcription.sttModel) >= 0
                   ? transcription.availableModels
                   : transcription.availableModels.concat([transcription.sttModel])
            currentIndex: model.indexOf(transcription.sttModel)
            onActivated: transcription.sttModel = currentText
        }
        Label { text: qsTr("Mikrofoni") }
        RowLayout {
            ComboBox {
                id: deviceBox
                objectName: "inputDeviceBox"
                Accessible.name: qsTr("Mikrofoni")
                Layout.preferredWidth: 320
                readonly property var options: [{ id: 0, name: qsTr("Auto (suositus: %1)")
                                                            .arg(transcription.recommendedInputDeviceName) }]
                                                .concat(transcription.availableInputDevices)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(o => o.id === transcription.selectedInputDeviceID))
                onActivated: index => transcription.setPreferredInputDevice(options[index].id)
            }
            Button {
                objectName: "refreshDevicesButton"
                text: qsTr("Päivitä laitteet")
                Accessible.name: text
                onClicked: transcription.refreshInputDevices()
            }
        }
        Label { text: qsTr("Näyttö") }
        RowLayout {
            ComboBox {
                objectName: "displayBox"
                Accessible.name: qsTr("Näyttö")
                Layout.preferredWidth: 320
                readonly property var options: [{ id: 0, name: qsTr("Auto (ensimmäinen näyttö)") }]
                                                .concat(transcription.availableSystemDisplays)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(o => o.id === transcription.selectedSystemDisplayID))
                onActivated: index => transcription.setPreferredSystemDisplay(options[index].id)
            }
            Button {
                objectName: "refreshDisplaysButton"
                text: qsTr("Päivitä näytöt")
                Accessible.name: text
                onClicked: transcription.refreshSystemAudioDisplays()
            }
        }
        Label { text: qsTr("Sovellus (valinnainen)") }
        RowLayout {
            ComboBox {
                objectName: "applicationBox"
                Accessible.name: qsTr("Sovellus (valinnainen)")
                Layout.preferredWidth: 320
                readonly property var options: [{ bundleIdentifier: "", name: qsTr("Auto (kaikki sovellukset)") }]
                                                .concat(transcription.availableSystemApplications)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(
                                           o => o.bundleIdentifier === transcription.selectedSystemApplicationBundleID))
                onActivated: index => transcription.setPreferredSystemApplication(options[index].bundleIdentifier)
            }
            Button {
                objectName: "refreshApplicationsButton"
                text: qsTr("Päivitä sovellukset")
                Accessible.name: text
                onClicked: transcription.refreshSystemAudioApplications()
            }
        }
    }

    Label { text: qsTr("Systeemiäänen oikeudet ja diagnostiikka"); font.weight: Font.Medium }
    Label {
        objectName: "systemAudioPermissionSummary"
        textFormat: Text.PlainText
        text: transcription.permissions.systemAudioPermissionSummary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        textFormat: Text.PlainText
        text: transcription.permissions.systemAudioPermissionDetails
        wrapMode: Text.Wrap
        opacity: 0.7
        Layout.fillWidth: true
    }

    GridLayout {
        columns: 2
        columnSpacing: 12
        Label { text: qsTr("Miksausprofiili") }
        ComboBox {
            objectName: "mixPresetBox"
            Accessible.name: qsTr("Miksausprofiili")
            readonly property var values: ["meeting", "interview", "webinar", "custom"]
            model: [qsTr("Kokous"), qsTr("Haastattelu"), qsTr("Webinaari"), qsTr("Mukautettu")]
            currentIndex: Math.max(0, values.indexOf(transcription.mixedPreset))
            onActivated: index => transcription.applyMixPreset(values[index])
        }
        Label { text: qsTr("Mikin taso") }
        Slider {
            objectName: "micGainSlider"
            Accessible.name: qsTr("Mikin taso")
            from: 0.1; to: 2
            value: transcription.mixedMicGain
            onMoved: transcription.mixedMicGain = value
        }
        Label { text: qsTr("Systeemiäänen taso") }
        Slider {
            objectName: "systemGainSlider"
            Accessible.name: qsTr("Systeemiäänen taso")
            from: 0.1; to: 2
            value: transcription.mixedSystemGain
            onMoved: transcription.mixedSystemGain = value
        }
        Label { text: qsTr("Ducking-voimakkuus") }
        Slider {
            objectName: "duckingSlider"
            Accessible.name: qsTr("Ducking-voimakkuus")
            from: 0; to: 0.9
            enabled: transcription.mixedAutoDuckEnabled
            value: transcription.mixedDuckingStrength
            onMoved: transcription.mixedDuckingStrength = value
        }
    }
    RowLayout {
        CheckBox {
            objectName: "limiterCheck"
            text: qsTr("Rajoitin")
            Accessible.name: text
            checked: transcription.mixedLimiterEnabled
            onToggled: transcription.mixedLimiterEnabled = checked
        }
        CheckBox {
            objectName: "autoDuckCheck"
            text: qsTr("Automaattinen ducking")
            Accessible.name: text
            checked: transcription.mixedAutoDuckEnabled
            onToggled: transcription.mixedAutoDuckEnabled = checked
        }
    }
    RowLayout {
        Label { text: qsTr("Tallennusmuoto") }
        ComboBox {
            objectName: "exportFormatBox"
            Accessible.name: qsTr("Tallennusmuoto")
            readonly property var values: ["txt", "json", "csv", "srt", "vtt", "md"]
            model: ["TXT", "JSON", "CSV", "SRT", "WebVTT", "Markdown"]
            currentIndex: Math.max(0, values.indexOf(transcription.exportFormat))
            onActivated: index => transcription.exportFormat = values[index]
        }
        CheckBox {
            objectName: "autoExportCheck"
            text: qsTr("Auto-export")
            Accessible.name: text
            checked: transcription.autoExportEnabled
            onToggled: transcription.autoExportEnabled = checked
        }
    }
}
