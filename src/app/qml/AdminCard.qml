pragma ComponentBehavior: Bound
import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "adminCard"
    title: qsTr("Käyttäjähallinta (admin)")

    TextField {
        objectName: "adminKeyField"
        placeholderText: qsTr("Syötä admin-avain")
        Accessible.name: qsTr("Admin-avain")
        echoMode: TextInput.Password
        Layout.fillWidth: true
        text: App.adminPanel.adminKey
        onTextEdited: App.adminPanel.adminKey = text
    }
    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        Button {
            objectName: "saveAdminKeyButton"
            text: qsTr("Tallenna avain")
            Accessible.name: text
            onClicked: App.adminPanel.saveKey()
        }
        Button {
            objectName: "clearAdminKeyButton"
            text: qsTr("Tyhjennä avain")
            Accessible.name: text
            onClicked: App.adminPanel.clearKey()
        }
        Button {
            objectName: "loadUsersButton"
            text: App.adminPanel.adminBusy ? qsTr("Haetaan...") : qsTr("Lataa käyttäjät")
            Accessible.name: text
            enabled: !App.adminPanel.adminBusy
            onClicked: App.adminPanel.loadUsers()
        }
    }
    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        TextField {
            objectName: "newUserEmailField"
            placeholderText: qsTr("email")
            Accessible.name: placeholderText
            text: App.adminPanel.adminNewUserEmail
            onTextEdited: App.adminPanel.adminNewUserEmail = text
        }
        TextField {
            objectName: "newUserPasswordField"
            placeholderText: qsTr("salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: App.adminPanel.adminNewUserPassword
            onTextEdited: App.adminPanel.adminNewUserPassword = text
        }
        Label { text: qsTr("Rooli"); height: roleBox.height; verticalAlignment: Text.AlignVCenter }
        ComboBox {
            id: roleBox
            objectName: "newUserRoleBox"
            Accessible.name: qsTr("Rooli")
            model: ["user", "admin"]
            currentIndex: Math.max(0, model.indexOf(App.adminPanel.adminNewUserRole))
            onActivated: App.adminPanel.adminNewUserRole = currentText
        }
        Button {
            objectName: "createUserButton"
            text: qsTr("Luo käyttäjä")
            Accessible.name: text
            enabled: !App.adminPanel.adminBusy
            onClicked: App.adminPanel.createUser()
        }
    }
    Label {
        objectName: "adminMessage"
        text: App.adminPanel.adminMessage
        textFormat: Text.PlainText
        visible: text.length > 0
    }
    Label {
        objectName: "adminError"
        text: App.adminPanel.adminError
        textFormat: Text.PlainText
        visible: text.length > 0
        color: Theme.recording
    }
    Repeater {
        model: App.adminPanel.adminUsers
        Flow {
            id: userRow
            required property var modelData
            Layout.fillWidth: true
            spacing: Theme.unit
            Label {
                text: userRow.modelData.email + "  #" + userRow.modelData.id + "  " + userRow.modelData.role + "  "
                      + userRow.modelData.statusLabel
                textFormat: Text.PlainText
                width: userRow.width
                wrapMode: Text.WrapAnywhere
            }
            Button {
                objectName: "makeAdmin_" + userRow.modelData.id
                text: qsTr("Tee admin"); Accessible.name: text
                visible: userRow.modelData.canMakeAdmin
                onClicked: App.adminPanel.setUserRole(userRow.modelData.id, "admin")
            }
            Button {
                objectName: "makeUser_" + userRow.modelData.id
                text: qsTr("Tee user"); Accessible.name: text
                visible: userRow.modelData.canMakeUser
                onClicked: App.adminPanel.setUserRole(userRow.modelData.id, "user")
            }
            Button {
                objectName: "enable_" + userRow.modelData.id
                text: qsTr("Aktivoi"); Accessible.name: text
                visible: userRow.modelData.canEnable
                onClicked: App.adminPanel.setUserEnabled(userRow.modelData.id, true)
            }
            Button {
                objectName: "disable_" + userRow.modelData.id
                text: qsTr("Estä"); Accessible.name: text
                visible: userRow.modelData.canDisable
                onClicked: App.adminPanel.setUserEnabled(userRow.modelData.id, false)
            }
            Button {
                objectName: "resetPassword_" + userRow.modelData.id
                text: qsTr("Nollaa salasana"); Accessible.name: text
                onClicked: App.adminPanel.resetUserPassword(userRow.modelData.id)
            }
            Button {
                objectName: "deleteUser_" + userRow.modelData.id
                text: qsTr("Poista"); Accessible.name: text
                onClicked: App.adminPanel.deleteUser(userRow.modelData.id)
            }
        }
    }
}
