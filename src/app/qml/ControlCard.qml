import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "controlCard"
    title: qsTr("Ohjaus")

    // Members a newer controller publishes read as false or empty on an older one.
    readonly property bool generatingSummary: App.transcription.isGeneratingSummary === true
    readonly property string realtimeDiagnostics: App.transcription.realtimeDiagnosticsLabel || ""

    Flow {
        Layout.fillWidth: true
        spacing: 8
        Button {
            objectName: "startButton"
            text: App.transcription.isStartingRecording ? qsTr("Yhdistetään...") : qsTr("Aloita")
            Accessible.name: text
            enabled: App.transcription.canStart
            highlighted: true
            onClicked: App.transcription.startRecording()
        }
        Button {
            objectName: "pauseButton"
            text: qsTr("Tauko")
            Accessible.name: text
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
            enabled: App.transcription.canSave
            onClicked: App.transcription.saveTranscript()
        }
        Button {
            objectName: "generateSummaryButton"
            text: card.generatingSummary ? qsTr("Muodostetaan...") : qsTr("Muodosta muistio")
            Accessible.name: text
            enabled: App.transcription.canSave && App.transcription.sessionId.length > 0 && !card.generatingSummary
            onClicked: App.transcription.generateSummaryDocx()
        }
        BusyIndicator {
            visible: running
            running: App.transcription.isStartingRecording || App.transcription.isStoppingRecording
                     || App.transcription.isResumingRecording || card.generatingSummary
            implicitWidth: 28
            implicitHeight: 28
        }
    }
    Label {
        objectName: "statusText"
        text: App.transcription.statusText
        visible: text.length > 0
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        objectName: "diagnosticHint"
        text: App.transcription.diagnosticHint
        visible: text.length > 0
        wrapMode: Text.Wrap
        opacity: 0.8
        Layout.fillWidth: true
    }
    Label {
        objectName: "pauseTimer"
        visible: App.transcription.isPaused
        text: qsTr("Tauolla kulunut ") + App.transcription.pauseElapsedLabel + qsTr(" • yhteys pidetään auki")
    }
    Label {
        objectName: "fallbackNotice"
        visible: App.transcription.fallbackNoticeVisible
        text: qsTr("Automaattinen varatila käytössä (Mikki + systeemiääni)")
        font.weight: Font.Medium
    }
    Label {
        objectName: "realtimeDiagnostics"
        visible: App.transcription.isRecording && card.realtimeDiagnostics.length > 0
        text: card.realtimeDiagnostics
        font.family: "monospace"
        font.pixelSize: 12
        opacity: 0.7
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
