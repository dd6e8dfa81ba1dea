import QtQuick
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
    // Typed passwords and old lines never wait for the next opening (or the next user).
    onClosed: changePassword.reset()

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Label {
            text: qsTr("Anna nykyinen salasana ja uusi salasana.")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        TextField {
            objectName: "currentPasswordField"
            placeholderText: qsTr("Nykyinen salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: changePassword.changeCurrentPassword
            onTextEdited: changePassword.changeCurrentPassword = text
            Layout.fillWidth: true
        }
        TextField {
            objectName: "newPasswordField"
            placeholderText: qsTr("Uusi salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: changePassword.changeNewPassword
            onTextEdited: changePassword.changeNewPassword = text
            Layout.fillWidth: true
        }
        TextField {
            objectName: "confirmPasswordField"
            placeholderText: qsTr("Toista uusi salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: changePassword.changeConfirmPassword
            onTextEdited: changePassword.changeConfirmPassword = text
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
                objectName: "changePasswordSave"
                text: changePassword.isChangingPassword ? qsTr("Tallennetaan...") : qsTr("Tallenna")
                Accessible.name: text
                enabled: !changePassword.isChangingPassword
                highlighted: true
                onClicked: changePassword.submit()
            }
        }
        Label {
            visible: changePassword.changePasswordMessage.length > 0
            textFormat: Text.PlainText
            text: changePassword.changePasswordMessage
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            visible: changePassword.changePasswordError.length > 0
            textFormat: Text.PlainText
            text: changePassword.changePasswordError
            color: "#b3261e"
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
