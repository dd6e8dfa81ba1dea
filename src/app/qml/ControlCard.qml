import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "controlCard"
    title: qsTr("Ohjaus")

    // Members a newer controller publishes read as false or empty on an older one.
    readonly property bool generatingSummary: transcription.isGeneratingSummary === true
    readonly property string realtimeDiagnostics: transcription.realtimeDiagnosticsLabel || ""

    Flow {
        Layout.fillWidth: true
        spacing: 8
        Button {
            objectName: "startButton"
            text: transcription.isStartingRecording ? qsTr("Yhdistetään...") : qsTr("Aloita")
            Accessible.name: text
            enabled: transcription.canStart
            highlighted: true
            onClicked: transcription.startRecording()
        }
        Button {
            objectName: "pauseButton"
            text: qsTr("Tauko")
            Accessible.name: text
            enabled: transcription.canPause
            onClicked: transcription.pauseRecording()
        }
        Button {
            objectName: "resumeButton"
            text: transcription.isResumingRecording ? qsTr("Jatketaan...") : qsTr("Jatka")
            Accessible.name: text
            enabled: transcription.canResume
            onClicked: transcription.resumeRecording()
        }
        Button {
            objectName: "stopButton"
            text: transcription.isStoppingRecording ? qsTr("Pysäytetään...") : qsTr("Lopeta")
            Accessible.name: text
            enabled: transcription.canStop
            onClicked: transcription.stopRecording()
        }
        Button {
            objectName: "saveTranscriptButton"
            text: qsTr("Tallenna")
            Accessible.name: text
            enabled: transcription.canSave
            onClicked: transcription.saveTranscript()
        }
        Button {
            objectName: "generateSummaryButton"
            text: generatingSummary ? qsTr("Muodostetaan...") : qsTr("Muodosta muistio")
            Accessible.name: text
            enabled: transcription.canSave && transcription.sessionId.length > 0 && !generatingSummary
            onClicked: transcription.generateSummaryDocx()
        }
        BusyIndicator {
            visible: running
            running: transcription.isStartingRecording || transcription.isStoppingRecording
                     || transcription.isResumingRecording || generatingSummary
            implicitWidth: 28
            implicitHeight: 28
        }
    }
    Label {
        objectName: "statusText"
        textFormat: Text.PlainText
        text: transcription.statusText
        visible: text.length > 0
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        objectName: "diagnosticHint"
        textFormat: Text.PlainText
        text: transcription.diagnosticHint
        visible: text.length > 0
        wrapMode: Text.Wrap
        opacity: 0.8
        Layout.fillWidth: true
    }
    Label {
        objectName: "pauseTimer"
        visible: transcription.isPaused
        text: qsTr("Tauolla kulunut ") + transcription.pauseElapsedLabel + qsTr(" • yhteys pidetään auki")
    }
    Label {
        objectName: "fallbackNotice"
        visible: transcription.fallbackNoticeVisible
        text: qsTr("Automaattinen varatila käytössä (Mikki + systeemiääni)")
        font.weight: Font.Medium
    }
    Label {
        objectName: "realtimeDiagnostics"
        visible: transcription.isRecording && realtimeDiagnostics.length > 0
        textFormat: Text.PlainText
        text: realtimeDiagnostics
        font.family: "monospace"
        font.pixelSize: 12
        opacity: 0.7
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
