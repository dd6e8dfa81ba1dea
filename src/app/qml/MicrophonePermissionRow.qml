import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// The microphone's access state with its two remedies; shown only while access is missing.
RowLayout {
    objectName: "microphonePermissionRow"
    visible: !App.transcription.permissions.isMicrophonePermissionGranted
    spacing: Theme.unit

    Label {
        objectName: "microphonePermissionHint"
        text: App.transcription.permissions.microphonePermissionSummary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Button {
        objectName: "grantMicrophoneButton"
        text: qsTr("Anna lupa")
        Accessible.name: qsTr("Mikrofoni") + " " + text
        visible: App.transcription.permissions.canRequestMicrophonePermissionPrompt
        enabled: !App.transcription.permissions.isRequestingMicrophonePermission
        onClicked: App.transcription.permissions.requestMicrophonePermissionFromUI()
    }
    Button {
        objectName: "openMicrophoneSettingsButton"
        text: qsTr("Avaa asetukset")
        Accessible.name: qsTr("Mikrofoni") + " " + text
        visible: App.transcription.permissions.shouldOpenMicrophoneSystemSettings
        enabled: !App.transcription.permissions.isRequestingMicrophonePermission
        onClicked: App.transcription.permissions.openMicrophoneSystemSettings()
    }
}
