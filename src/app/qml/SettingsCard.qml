pragma ComponentBehavior: Bound
import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "settingsCard"
    title: qsTr("Asetukset")

    readonly property bool locked: App.transcription.isRecording || App.transcription.isStartingRecording

    // The list with the value added at its end when it is not in it yet.
    function withEntry(list, value) {
        const all = Array.from(list)
        if (all.indexOf(value) < 0)
            all.push(value)
        return all
    }
    // An "Auto" entry followed by the controller's options.
    function withAuto(auto, options) {
        const all = [auto]
        for (let i = 0; i < options.length; ++i)
            all.push(options[i])
        return all
    }

    RowLayout {
        spacing: 12
        Repeater {
            model: Choices.inputModes
            RadioButton {
                required property var modelData
                objectName: "inputMode_" + modelData.value
                text: modelData.label
                Accessible.name: text
                enabled: !card.locked
                checked: App.transcription.inputMode === modelData.value
                onToggled: if (checked) App.transcription.inputMode = modelData.value
            }
        }
    }
    CheckBox {
        objectName: "allowSystemFallback"
        text: qsTr("Automaattinen varatila systeemiäänelle")
        Accessible.name: text
        checked: App.transcription.allowSystemFallback
        onToggled: App.transcription.allowSystemFallback = checked
    }
    GridLayout {
        columns: 2
        columnSpacing: 12
        Label { text: qsTr("Kieli") }
        ComboBox {
            objectName: "languageBox"
            Accessible.name: qsTr("Kieli")
            model: App.transcription.availableLanguages
            currentIndex: model.indexOf(App.transcription.language)
            onActivated: App.transcription.language = currentText
        }
        Label { text: qsTr("STT-malli") }
        ComboBox {
            objectName: "modelBox"
            Accessible.name: qsTr("STT-malli")
            // The server may name a model of its own while recording; it shows as it is.
            model: card.withEntry(App.transcription.availableModels, App.transcription.sttModel)
            currentIndex: model.indexOf(App.transcription.sttModel)
            onActivated: App.transcription.sttModel = currentText
        }
        Label { text: qsTr("Mikrofoni") }
        RowLayout {
            ComboBox {
                id: deviceBox
                objectName: "inputDeviceBox"
                Accessible.name: qsTr("Mikrofoni")
                Layout.preferredWidth: 320
                readonly property var options: card.withAuto({ id: 0, name: qsTr("Auto (suositus: %1)")
                                                                .arg(App.transcription.recommendedInputDeviceName) },
                                                        App.transcription.availableInputDevices)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(o => o.id === App.transcription.selectedInputDeviceID))
                onActivated: index => App.transcription.setPreferredInputDevice(options[index].id)
            }
            Button {
                objectName: "refreshDevicesButton"
                text: qsTr("Päivitä laitteet")
                Accessible.name: text
                onClicked: App.transcription.refreshInputDevices()
            }
        }
        Label { text: qsTr("Näyttö") }
        RowLayout {
            ComboBox {
                objectName: "displayBox"
                Accessible.name: qsTr("Näyttö")
                Layout.preferredWidth: 320
                readonly property var options: card.withAuto({ id: 0, name: qsTr("Auto (ensimmäinen näyttö)") },
                                                        App.transcription.availableSystemDisplays)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(o => o.id === App.transcription.selectedSystemDisplayID))
                onActivated: index => App.transcription.setPreferredSystemDisplay(options[index].id)
            }
            Button {
                objectName: "refreshDisplaysButton"
                text: qsTr("Päivitä näytöt")
                Accessible.name: text
                onClicked: App.transcription.refreshSystemAudioDisplays()
            }
        }
        Label { text: qsTr("Sovellus (valinnainen)") }
        RowLayout {
            ComboBox {
                objectName: "applicationBox"
                Accessible.name: qsTr("Sovellus (valinnainen)")
                Layout.preferredWidth: 320
                readonly property var options: card.withAuto({ bundleIdentifier: "", name: qsTr("Auto (kaikki sovellukset)") },
                                                        App.transcription.availableSystemApplications)
                model: options.map(o => o.name)
                currentIndex: Math.max(0, options.findIndex(
                                           o => o.bundleIdentifier === App.transcription.selectedSystemApplicationBundleID))
                onActivated: index => App.transcription.setPreferredSystemApplication(options[index].bundleIdentifier)
            }
            Button {
                objectName: "refreshApplicationsButton"
                text: qsTr("Päivitä sovellukset")
                Accessible.name: text
                onClicked: App.transcription.refreshSystemAudioApplications()
            }
        }
    }

    Label { text: qsTr("Systeemiäänen oikeudet ja diagnostiikka"); font.weight: Font.Medium }
    Label {
        objectName: "systemAudioPermissionSummary"
        text: App.transcription.systemAudioPermissionSummary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        text: App.transcription.systemAudioPermissionDetails
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
            model: Choices.mixPresets
            textRole: "label"
            valueRole: "value"
            currentIndex: Math.max(0, indexOfValue(App.transcription.mixedPreset))
            onActivated: App.transcription.applyMixPreset(currentValue)
        }
        Label { text: qsTr("Mikin taso") }
        Slider {
            objectName: "micGainSlider"
            Accessible.name: qsTr("Mikin taso")
            from: Choices.minGain; to: Choices.maxGain
            value: App.transcription.mixedMicGain
            onMoved: App.transcription.mixedMicGain = value
        }
        Label { text: qsTr("Systeemiäänen taso") }
        Slider {
            objectName: "systemGainSlider"
            Accessible.name: qsTr("Systeemiäänen taso")
            from: Choices.minGain; to: Choices.maxGain
            value: App.transcription.mixedSystemGain
            onMoved: App.transcription.mixedSystemGain = value
        }
        Label { text: qsTr("Ducking-voimakkuus") }
        Slider {
            objectName: "duckingSlider"
            Accessible.name: qsTr("Ducking-voimakkuus")
            from: 0; to: Choices.maxDuckingStrength
            enabled: App.transcription.mixedAutoDuckEnabled
            value: App.transcription.mixedDuckingStrength
            onMoved: App.transcription.mixedDuckingStrength = value
        }
    }
    RowLayout {
        CheckBox {
            objectName: "limiterCheck"
            text: qsTr("Rajoitin")
            Accessible.name: text
            checked: App.transcription.mixedLimiterEnabled
            onToggled: App.transcription.mixedLimiterEnabled = checked
        }
        CheckBox {
            objectName: "autoDuckCheck"
            text: qsTr("Automaattinen ducking")
            Accessible.name: text
            checked: App.transcription.mixedAutoDuckEnabled
            onToggled: App.transcription.mixedAutoDuckEnabled = checked
        }
    }
    RowLayout {
        Label { text: qsTr("Tallennusmuoto") }
        ComboBox {
            objectName: "exportFormatBox"
            Accessible.name: qsTr("Tallennusmuoto")
            model: Choices.exportFormats
            textRole: "label"
            valueRole: "value"
            currentIndex: Math.max(0, indexOfValue(App.transcription.exportFormat))
            onActivated: App.transcription.exportFormat = currentValue
        }
        CheckBox {
            objectName: "autoExportCheck"
            text: qsTr("Auto-export")
            Accessible.name: text
            checked: App.transcription.autoExportEnabled
            onToggled: App.transcription.autoExportEnabled = checked
        }
    }
}
