import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "actionsCard"
    title: qsTr("Toiminnot")

    RowLayout {
        spacing: 8
        Button {
            objectName: "audioTestButton"
            text: qsTr("Äänitesti (5 s)")
            Accessible.name: text
            // The audio test is not wired yet.
            enabled: false
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
            // The update check is not wired yet.
            enabled: false
        }
    }
    Label {
        objectName: "memoBackendStatus"
        text: qsTr("Muistio-AI: ") + transcription.memoAIBackendStatus
    }
    Label {
        objectName: "versionLabel"
        text: qsTr("Versio ") + (appVersion || "-") + qsTr(" • build ") + (appBuild || "-")
        opacity: 0.7
    }
}
