pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// What and how to record. Source, language and model are fixed while a recording runs.
Card {
    id: card
    objectName: "settingsCard"
    title: qsTr("Asetukset")

    readonly property bool locked: App.transcription.isRecording || App.transcription.isStartingRecording
    property bool showSystemAudioPermissionDiagnostics: false
    readonly property int labelWidth: 128

    // The list with the value added at its end when it is not in it yet.
    function withEntry(list, value) {
        const all = Array.from(list)
        if (all.indexOf(value) < 0)
            all.push(value)
        return all
    }
    // A member read by name; the unsigned ids have no QML type of their own.
    function member(object, name) {
        return object[name]
    }
    // An "Auto" entry followed by the controller's options.
    function withAuto(auto, options) {
        const all = [auto]
        for (let i = 0; i < options.length; ++i)
            all.push(options[i])
        return all
    }

    ColumnLayout {
        spacing: 0
        Repeater {
            model: Choices.inputModes
            RadioButton {
                required property var modelData
                objectName: "inputMode_" + modelData.value
                text: modelData.label
                Accessible.name: text
                enabled: !card.locked
                checked: App.transcription.settings.inputMode === modelData.value
                onToggled: if (checked) App.transcription.settings.inputMode = modelData.value
            }
        }
    }
    CheckBox {
        objectName: "allowSystemFallback"
        text: qsTr("Automaattinen varatila systeemiäänelle")
        Accessible.name: text
        checked: App.transcription.settings.allowSystemFallback
        onToggled: App.transcription.settings.allowSystemFallback = checked
    }
    GridLayout {
        columns: 2
        columnSpacing: Theme.unit * 2
        rowSpacing: Theme.unit
        Layout.fillWidth: true

        Label { text: qsTr("Kieli"); Layout.preferredWidth: card.labelWidth }
        ComboBox {
            objectName: "languageBox"
            Accessible.name: qsTr("Kieli")
            Layout.fillWidth: true
            enabled: !card.locked
            model: App.transcription.settings.availableLanguages
            currentIndex: model.indexOf(App.transcription.settings.language)
            onActivated: App.transcription.settings.language = currentText
        }
        Label { text: qsTr("STT-malli"); Layout.preferredWidth: card.labelWidth }
        ComboBox {
            objectName: "modelBox"
            Accessible.name: qsTr("STT-malli")
            Layout.fillWidth: true
            enabled: !card.locked
            // The server may name a model of its own while recording; it shows as it is.
            model: card.withEntry(App.transcription.settings.availableModels, App.transcription.settings.sttModel)
            currentIndex: model.indexOf(App.transcription.settings.sttModel)
            onActivated: App.transcription.settings.sttModel = currentText
        }
        Label { text: qsTr("Mikrofoni"); Layout.preferredWidth: card.labelWidth }
        SourcePicker {
            boxName: "inputDeviceBox"
            buttonName: "refreshDevicesButton"
            label: qsTr("Mikrofoni")
            refreshText: qsTr("Päivitä laitteet")
            // Without a recommendation the entry reads plain "Auto".
            autoName: App.transcription.sources.recommendedInputDeviceName.length > 0
                      ? qsTr("Auto (suositus: %1)").arg(App.transcription.sources.recommendedInputDeviceName)
                      : qsTr("Auto")
            options: App.transcription.sources.availableInputDevices
            selected: card.member(App.transcription.sources, "selectedInputDeviceID")
            onPicked: value => App.transcription.setPreferredInputDevice(value)
            onRefresh: App.transcription.refreshInputDevices()
        }
        Label { text: qsTr("Näyttö"); Layout.preferredWidth: card.labelWidth }
        SourcePicker {
            boxName: "displayBox"
            buttonName: "refreshDisplaysButton"
            label: qsTr("Näyttö")
            refreshText: qsTr("Päivitä näytöt")
            autoName: qsTr("Auto (ensimmäinen näyttö)")
            options: App.transcription.sources.availableSystemDisplays
            selected: card.member(App.transcription.sources, "selectedSystemDisplayID")
            onPicked: value => App.transcription.setPreferredSystemDisplay(value)
            onRefresh: App.transcription.refreshSystemAudioDisplays()
        }
        Label { text: qsTr("Sovellus (valinnainen)"); Layout.preferredWidth: card.labelWidth; wrapMode: Text.Wrap }
        SourcePicker {
            boxName: "applicationBox"
            buttonName: "refreshApplicationsButton"
            label: qsTr("Sovellus (valinnainen)")
            refreshText: qsTr("Päivitä sovellukset")
            autoName: qsTr("Auto (kaikki sovellukset)")
            key: "bundleIdentifier"
            autoValue: ""
            options: App.transcription.sources.availableSystemApplications
            selected: App.transcription.sources.selectedSystemApplicationBundleID
            onPicked: value => App.transcription.setPreferredSystemApplication(value)
            onRefresh: App.transcription.refreshSystemAudioApplications()
        }
    }

    RowLayout {
        Layout.fillWidth: true
        Label {
            text: qsTr("Systeemiäänen oikeudet ja diagnostiikka")
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        ToolButton {
            objectName: "permissionDiagnosticsToggle"
            text: card.showSystemAudioPermissionDiagnostics ? qsTr("Piilota") : qsTr("Näytä")
            Accessible.name: qsTr("Systeemiäänen oikeudet ja diagnostiikka") + " " + text
            onClicked: card.showSystemAudioPermissionDiagnostics = !card.showSystemAudioPermissionDiagnostics
        }
    }
    Label {
        objectName: "systemAudioPermissionSummary"
        text: App.transcription.permissions.systemAudioPermissionSummary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        objectName: "systemAudioPermissionDetails"
        visible: card.showSystemAudioPermissionDiagnostics
        text: App.transcription.permissions.systemAudioPermissionDetails
        textFormat: Text.PlainText
        wrapMode: Text.WrapAnywhere
        color: Theme.mutedText
        font.pixelSize: 12
        Layout.fillWidth: true
    }

    GridLayout {
        columns: 3
        columnSpacing: Theme.unit * 2
        rowSpacing: Theme.unit
        Layout.fillWidth: true
        Label { text: qsTr("Miksausprofiili"); Layout.preferredWidth: card.labelWidth }
        ComboBox {
            objectName: "mixPresetBox"
            Accessible.name: qsTr("Miksausprofiili")
            Layout.fillWidth: true
            Layout.columnSpan: 2
            model: Choices.mixPresets
            textRole: "label"
            valueRole: "value"
            currentIndex: Math.max(0, indexOfValue(App.transcription.settings.mixedPreset))
            onActivated: App.transcription.applyMixPreset(currentValue)
        }
        Label { text: qsTr("Mikin taso"); Layout.preferredWidth: card.labelWidth }
        Slider {
            id: micGain
            objectName: "micGainSlider"
            Accessible.name: qsTr("Mikin taso")
            Layout.fillWidth: true
            from: Choices.minGain; to: Choices.maxGain
            value: App.transcription.settings.mixedMicGain
            onMoved: App.transcription.settings.mixedMicGain = value
        }
        Label { text: micGain.value.toFixed(2) }
        Label { text: qsTr("Systeemiäänen taso"); Layout.preferredWidth: card.labelWidth; wrapMode: Text.Wrap }
        Slider {
            id: systemGain
            objectName: "systemGainSlider"
            Accessible.name: qsTr("Systeemiäänen taso")
            Layout.fillWidth: true
            from: Choices.minGain; to: Choices.maxGain
            value: App.transcription.settings.mixedSystemGain
            onMoved: App.transcription.settings.mixedSystemGain = value
        }
        Label { text: systemGain.value.toFixed(2) }
        Label { text: qsTr("Ducking-voimakkuus"); Layout.preferredWidth: card.labelWidth }
        Slider {
            id: ducking
            objectName: "duckingSlider"
            Accessible.name: qsTr("Ducking-voimakkuus")
            Layout.fillWidth: true
            from: 0; to: Choices.maxDuckingStrength
            enabled: App.transcription.settings.mixedAutoDuckEnabled
            value: App.transcription.settings.mixedDuckingStrength
            onMoved: App.transcription.settings.mixedDuckingStrength = value
        }
        Label { text: ducking.value.toFixed(2) }
    }
    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        CheckBox {
            objectName: "limiterCheck"
            text: qsTr("Rajoitin")
            Accessible.name: text
            checked: App.transcription.settings.mixedLimiterEnabled
            onToggled: App.transcription.settings.mixedLimiterEnabled = checked
        }
        CheckBox {
            objectName: "autoDuckCheck"
            text: qsTr("Automaattinen ducking")
            Accessible.name: text
            checked: App.transcription.settings.mixedAutoDuckEnabled
            onToggled: App.transcription.settings.mixedAutoDuckEnabled = checked
        }
    }
    RowLayout {
        spacing: Theme.unit * 2
        Label { text: qsTr("Tallennusmuoto"); Layout.preferredWidth: card.labelWidth }
        ComboBox {
            objectName: "exportFormatBox"
            Accessible.name: qsTr("Tallennusmuoto")
            model: Choices.exportFormats
            textRole: "label"
            valueRole: "value"
            currentIndex: Math.max(0, indexOfValue(App.transcription.settings.exportFormat))
            onActivated: App.transcription.settings.exportFormat = currentValue
        }
        CheckBox {
            objectName: "autoExportCheck"
            text: qsTr("Auto-export")
            Accessible.name: text
            checked: App.transcription.settings.autoExportEnabled
            onToggled: App.transcription.settings.autoExportEnabled = checked
        }
    }
}
