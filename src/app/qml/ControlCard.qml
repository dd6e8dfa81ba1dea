import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// The recording's controls and state, pinned above the transcript: what runs, for how long,
// how loud each source arrives and what the controller last said.
Card {
    id: card
    objectName: "controlCard"
    title: qsTr("Ohjaus")

    // Members a newer controller publishes read as false or empty on an older one.
    readonly property bool generatingSummary: App.transcription.support.isGeneratingSummary === true
    readonly property bool recording: App.transcription.isRecording
    readonly property bool paused: App.transcription.isPaused
    readonly property string mode: App.transcription.settings.inputMode
    readonly property bool usesMicrophone: mode !== Choices.inputModeValue(Choices.SystemAudio)
    readonly property bool usesSystemAudio: mode !== Choices.inputModeValue(Choices.Microphone)

    headerItems: [
        RowLayout {
            objectName: "recordingIndicator"
            visible: card.recording
            spacing: Theme.unit
            Rectangle {
                id: dot
                objectName: "recordingDot"
                width: 12; height: 12; radius: 6
                color: card.paused ? Theme.paused : Theme.recording
                SequentialAnimation on opacity {
                    running: card.recording && !card.paused
                    loops: Animation.Infinite
                    NumberAnimation { to: 0.35; duration: 700 }
                    NumberAnimation { to: 1; duration: 700 }
                    onStopped: dot.opacity = 1
                }
            }
            Label {
                objectName: "recordingStateLabel"
                text: card.paused ? qsTr("Tauolla") : qsTr("Tallennetaan")
                color: card.paused ? Theme.paused : Theme.recording
                font.weight: Font.DemiBold
            }
            Label {
                objectName: "elapsedLabel"
                text: App.monitor.elapsedLabel
                font.pixelSize: 17
                font.weight: Font.DemiBold
            }
        }
    ]

    RowLayout {
        Layout.fillWidth: true
        spacing: Theme.unit * 2
        Flow {
            Layout.fillWidth: true
            spacing: Theme.unit
            Button {
                objectName: "startButton"
                text: App.transcription.isStartingRecording ? qsTr("Yhdistetään...") : qsTr("Aloita")
                Accessible.name: text
                ToolTip.text: "Ctrl+R"
                ToolTip.visible: hovered
                enabled: App.transcription.canStart
                palette.button: enabled ? Theme.accent : Theme.card
                palette.buttonText: enabled ? Theme.accentText : Theme.mutedText
                onClicked: App.transcription.startRecording()
            }
            Button {
                objectName: "pauseButton"
                text: qsTr("Tauko")
                Accessible.name: text
                ToolTip.text: "Ctrl+P"
                ToolTip.visible: hovered
                enabled: App.transcription.canPause
                onClicked: App.transcription.pauseRecording()
            }
            Button {
                objectName: "resumeButton"
                text: App.transcription.isResumingRecording ? qsTr("Jatketaan...") : qsTr("Jatka")
                Accessible.name: text
                enabled: App.transcription.canResume
                onClicked: App.transcription.resumeRecording()
            }
            Button {
                objectName: "stopButton"
                text: App.transcription.isStoppingRecording ? qsTr("Pysäytetään...") : qsTr("Lopeta")
                Accessible.name: text
                enabled: App.transcription.canStop
                onClicked: App.transcription.stopRecording()
            }
            Button {
                objectName: "saveTranscriptButton"
                text: qsTr("Tallenna")
                Accessible.name: text
                ToolTip.text: "Ctrl+S"
                ToolTip.visible: hovered
                enabled: App.transcription.canSave
                onClicked: App.transcription.saveTranscript()
            }
            Button {
                objectName: "generateSummaryButton"
                text: card.generatingSummary ? qsTr("Muodostetaan...") : qsTr("Muodosta muistio")
                Accessible.name: text
                enabled: App.transcription.canSave && App.transcription.sessionId.length > 0
                         && !card.generatingSummary
                onClicked: App.transcription.generateSummaryDocx()
            }
            BusyIndicator {
                visible: running
                running: App.transcription.isStartingRecording || App.transcription.isStoppingRecording
                         || App.transcription.isResumingRecording || card.generatingSummary
                implicitWidth: 32
                implicitHeight: 32
            }
        }
        ColumnLayout {
            objectName: "levelMeters"
            visible: card.recording
            spacing: Theme.unit / 2
            LevelMeter {
                objectName: "microphoneMeter"
                visible: card.usesMicrophone
                label: qsTr("Mikrofoni")
                level: App.monitor.microphoneLevel
            }
            LevelMeter {
                objectName: "systemAudioMeter"
                visible: card.usesSystemAudio
                label: qsTr("Systeemiääni")
                level: App.monitor.systemAudioLevel
            }
        }
    }
    Label {
        objectName: "statusText"
        text: App.transcription.statusText
        textFormat: Text.PlainText
        visible: text.length > 0
        wrapMode: Text.Wrap
        font.weight: Font.Medium
        Layout.fillWidth: true
    }
    Label {
        objectName: "diagnosticHint"
        text: App.transcription.diagnosticHint
        textFormat: Text.PlainText
        visible: text.length > 0
        wrapMode: Text.Wrap
        color: Theme.mutedText
        Layout.fillWidth: true
    }
    Label {
        objectName: "pauseTimer"
        visible: App.transcription.isPaused
        text: qsTr("Tauolla kulunut ") + App.transcription.pauseElapsedLabel + qsTr(" • yhteys pidetään auki")
        color: Theme.paused
    }
    Label {
        objectName: "fallbackNotice"
        visible: App.transcription.fallbackNoticeVisible
        text: qsTr("Automaattinen varatila käytössä (Mikki + systeemiääni)")
        font.weight: Font.Medium
    }
}
