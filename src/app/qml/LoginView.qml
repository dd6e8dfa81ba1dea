import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: login
    objectName: "loginView"

    Component.onCompleted: emailField.forceActiveFocus()

    Pane {
        anchors.centerIn: parent
        width: Math.min(parent.width - Theme.unit * 6, 440)
        padding: Theme.unit * 4
        background: Rectangle { color: Theme.card; border.color: Theme.border; radius: Theme.radius * 1.5 }

        ColumnLayout {
            anchors.fill: parent
            spacing: 12

            BrandLogo { Layout.alignment: Qt.AlignHCenter; width: 56; height: 56 }
            Label {
                text: qsTr("Kirjaudu")
                font.pixelSize: 26
                font.weight: Font.Black
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: qsTr("Kirjaudu Vernaloon yrityksen tunnuksilla.")
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
            }
            TextField {
                id: emailField
                objectName: "emailField"
                placeholderText: qsTr("etunimi.sukunimi@kestrova.fi")
                Accessible.name: qsTr("Sähköposti")
                inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
                Layout.fillWidth: true
                onAccepted: passwordField.forceActiveFocus()
            }
            TextField {
                id: passwordField
                objectName: "passwordField"
                placeholderText: qsTr("Salasana")
                Accessible.name: qsTr("Salasana")
                echoMode: TextInput.Password
                Layout.fillWidth: true
                onAccepted: if (loginButton.enabled) loginButton.clicked()
            }
            CheckBox {
                id: rememberBox
                objectName: "rememberBox"
                text: qsTr("Muista minut tällä laitteella")
                Accessible.name: text
                checked: App.auth.rememberSession
            }
            Button {
                id: loginButton
                objectName: "loginButton"
                text: App.auth.isBusy ? qsTr("Kirjaudutaan...") : qsTr("Kirjaudu")
                Accessible.name: text
                enabled: !App.auth.isBusy
                palette.button: Theme.accent
                palette.buttonText: Theme.accentText
                Layout.fillWidth: true
                onClicked: App.auth.submitLogin(emailField.text, passwordField.text, rememberBox.checked)
            }
            Label {
                objectName: "loginError"
                visible: App.auth.errorMessage.length > 0
                text: App.auth.errorMessage
                textFormat: Text.PlainText
                color: Theme.recording
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Button {
                objectName: "forgotPasswordLink"
                text: qsTr("Unohtuiko salasana?")
                Accessible.name: text
                flat: true
                Layout.alignment: Qt.AlignHCenter
                onClicked: forgotSheet.open()
            }
        }
    }

    ForgotPasswordSheet { id: forgotSheet }
}
