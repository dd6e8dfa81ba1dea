import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// The microphone's access state with its two remedies; shown only while access is missing.
RowLayout {
    objectName: "microphonePermissionRow"
    visible: !App.transcription.isMicrophonePermissionGranted
    spacing: Theme.unit

    Label {
        objectName: "microphonePermissionHint"
        text: App.transcription.microphonePermissionSummary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Button {
        objectName: "grantMicrophoneButton"
        text: qsTr("Anna lupa")
        Accessible.name: qsTr("Mikrofoni") + " " + text
        visible: App.transcription.canRequestMicrophonePermissionPrompt
        enabled: !App.transcription.isRequestingMicrophonePermission
        onClicked: App.transcription.requestMicrophonePermissionFromUI()
    }
    Button {
        objectName: "openMicrophoneSettingsButton"
        text: qsTr("Avaa asetukset")
        Accessible.name: qsTr("Mikrofoni") + " " + text
        visible: App.transcription.shouldOpenMicrophoneSystemSettings
        enabled: !App.transcription.isRequestingMicrophonePermission
        onClicked: App.transcription.openMicrophoneSystemSettings()
    }
}
