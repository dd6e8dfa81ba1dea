import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "actionsCard"
    title: qsTr("Toiminnot")

    Flow {
        Layout.fillWidth: true
        spacing: 8
        Button {
            objectName: "audioTestButton"
            text: transcription.isAudioTestRunning ? qsTr("Äänitesti käynnissä...") : qsTr("Äänitesti (5 s)")
            Accessible.name: text
            // While recording the controller answers with its own status line.
            enabled: !transcription.isAudioTestRunning
            onClicked: transcription.runAudioQualityTest()
        }
        Button {
            objectName: "testConnectionButton"
            text: qsTr("Testaa yhteys")
            Accessible.name: text
            onClicked: transcription.testBackendConnection()
        }
        Button {
            objectName: "saveSettingsButton"
            text: qsTr("Tallenna asetukset")
            Accessible.name: text
            onClicked: transcription.saveConfig(true)
        }
        Button {
            objectName: "checkUpdatesButton"
            text: qsTr("Tarkista päivitykset")
            Accessible.name: text
            onClicked: transcription.checkForUpdates()
        }
    }
    Label {
        objectName: "memoBackendStatus"
        textFormat: Text.PlainText
        text: qsTr("Muistio-AI: ") + transcription.memoAIBackendStatus
    }
    Label {
        objectName: "versionLabel"
        text: qsTr("Versio ") + (appVersion || "-") + qsTr(" • build ") + (appBuild || "-")
        opacity: 0.7
    }
}
