import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "controlCard"
    title: qsTr("Ohjaus")

    RowLayout {
        spacing: 8
        Button {
            objectName: "startButton"
            text: qsTr("Aloita")
            Accessible.name: text
            enabled: transcription.canStart
            highlighted: true
            onClicked: transcription.startRecording()
        }
        Button {
            objectName: "stopButton"
            text: qsTr("Lopeta")
            Accessible.name: text
            enabled: transcription.canStop
            onClicked: transcription.stopRecording()
        }
        BusyIndicator {
            visible: running
            running: transcription.isStartingRecording || transcription.isStoppingRecording
            implicitWidth: 28
            implicitHeight: 28
        }
    }
    Label {
        objectName: "statusText"
        text: transcription.statusText
        visible: text.length > 0
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        objectName: "diagnosticHint"
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
    }
}
