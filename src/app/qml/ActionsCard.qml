import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "actionsCard"
    title: qsTr("Toiminnot")

    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        Button {
            objectName: "audioTestButton"
            text: App.transcription.support.isAudioTestRunning ? qsTr("Äänitesti käynnissä...") : qsTr("Äänitesti (5 s)")
            Accessible.name: text
            // While recording the controller answers with its own status line.
            enabled: !App.transcription.support.isAudioTestRunning
            onClicked: App.transcription.runAudioQualityTest()
        }
        Button {
            objectName: "testConnectionButton"
            text: qsTr("Testaa yhteys")
            Accessible.name: text
            onClicked: App.transcription.testBackendConnection()
        }
        Button {
            objectName: "saveSettingsButton"
            text: qsTr("Tallenna asetukset")
            Accessible.name: text
            onClicked: App.transcription.saveConfig(true)
        }
        Button {
            objectName: "checkUpdatesButton"
            text: qsTr("Tarkista päivitykset")
            Accessible.name: text
            onClicked: App.transcription.checkForUpdates()
        }
    }
    Label {
        objectName: "memoBackendStatus"
        text: qsTr("Muistio-AI: ") + App.transcription.support.memoAIBackendStatus
        textFormat: Text.PlainText
    }
    Label {
        objectName: "versionLabel"
        text: qsTr("Versio ") + (App.version || "-") + qsTr(" • build ") + (App.build || "-")
        color: Theme.mutedText
    }
}
