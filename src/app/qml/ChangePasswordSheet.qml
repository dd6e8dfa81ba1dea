import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Dialog {
    id: sheet
    objectName: "changePasswordSheet"
    title: qsTr("Vaihda salasana")
    modal: true
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 460
    closePolicy: Popup.CloseOnEscape
    onOpened: currentField.forceActiveFocus()
    // Typed passwords and old lines never wait for the next opening (or the next user).
    onClosed: App.changePassword.reset()
    // Enter in any field saves, as the button would.
    function submit() {
        if (saveButton.enabled)
            App.changePassword.submit()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Label {
            text: qsTr("Anna nykyinen salasana ja uusi salasana.")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        TextField {
            id: currentField
            objectName: "currentPasswordField"
            placeholderText: qsTr("Nykyinen salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: App.changePassword.changeCurrentPassword
            onTextEdited: App.changePassword.changeCurrentPassword = text
            onAccepted: sheet.submit()
            Layout.fillWidth: true
        }
        TextField {
            objectName: "newPasswordField"
            placeholderText: qsTr("Uusi salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: App.changePassword.changeNewPassword
            onTextEdited: App.changePassword.changeNewPassword = text
            onAccepted: sheet.submit()
            Layout.fillWidth: true
        }
        TextField {
            objectName: "confirmPasswordField"
            placeholderText: qsTr("Toista uusi salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: App.changePassword.changeConfirmPassword
            onTextEdited: App.changePassword.changeConfirmPassword = text
            onAccepted: sheet.submit()
            Layout.fillWidth: true
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                objectName: "changePasswordClose"
                text: qsTr("Sulje")
                Accessible.name: text
                onClicked: sheet.close()
            }
            Item { Layout.fillWidth: true }
            Button {
                id: saveButton
                objectName: "changePasswordSave"
                text: App.changePassword.isChangingPassword ? qsTr("Tallennetaan...") : qsTr("Tallenna")
                Accessible.name: text
                enabled: !App.changePassword.isChangingPassword
                highlighted: true
                onClicked: App.changePassword.submit()
            }
        }
        Label {
            visible: App.changePassword.changePasswordMessage.length > 0
            text: App.changePassword.changePasswordMessage
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            visible: App.changePassword.changePasswordError.length > 0
            text: App.changePassword.changePasswordError
            textFormat: Text.PlainText
            color: Theme.recording
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
