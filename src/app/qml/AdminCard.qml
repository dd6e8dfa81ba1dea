import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "adminCard"
    title: qsTr("Käyttäjähallinta (admin)")

    RowLayout {
        TextField {
            objectName: "adminKeyField"
            placeholderText: qsTr("Syötä admin-avain")
            Accessible.name: qsTr("Admin-avain")
            echoMode: TextInput.Password
            Layout.preferredWidth: 280
            text: adminPanel.adminKey
            onTextEdited: adminPanel.adminKey = text
        }
        Button {
            objectName: "saveAdminKeyButton"
            text: qsTr("Tallenna avain")
            Accessible.name: text
            onClicked: adminPanel.saveKey()
        }
        Button {
            objectName: "clearAdminKeyButton"
            text: qsTr("Tyhjennä avain")
            Accessible.name: text
            onClicked: adminPanel.clearKey()
        }
        Button {
            objectName: "loadUsersButton"
            text: adminPanel.adminBusy ? qsTr("Haetaan...") : qsTr("Lataa käyttäjät")
            Accessible.name: text
            enabled: !adminPanel.adminBusy
            onClicked: adminPanel.loadUsers()
        }
    }
    RowLayout {
        TextField {
            objectName: "newUserEmailField"
            placeholderText: qsTr("email")
            Accessible.name: placeholderText
            text: adminPanel.adminNewUserEmail
            onTextEdited: adminPanel.adminNewUserEmail = text
        }
        TextField {
            objectName: "newUserPasswordField"
            placeholderText: qsTr("salasana")
            Accessible.name: placeholderText
            echoMode: TextInput.Password
            text: adminPanel.adminNewUserPassword
            onTextEdited: adminPanel.adminNewUserPassword = text
        }
        Label { text: qsTr("Rooli") }
        ComboBox {
            objectName: "newUserRoleBox"
            Accessible.name: qsTr("Rooli")
            model: ["user", "admin"]
            currentIndex: Math.max(0, model.indexOf(adminPanel.adminNewUserRole))
            onActivated: adminPanel.adminNewUserRole = currentText
        }
        Button {
            objectName: "createUserButton"
            text: qsTr("Luo käyttäjä")
            Accessible.name: text
            enabled: !adminPanel.adminBusy
            onClicked: adminPanel.createUser()
        }
    }
    Label {
        objectName: "adminMessage"
        textFormat: Text.PlainText
        text: adminPanel.adminMessage
        visible: text.length > 0
    }
    Label {
        objectName: "adminError"
        textFormat: Text.PlainText
        text: adminPanel.adminError
        visible: text.length > 0
        color: "#b3261e"
    }
    Repeater {
        model: adminPanel.adminUsers
        RowLayout {
            spacing: 8
            Label { textFormat: Text.PlainText; text: modelData.email + "  #" + modelData.id + "  " + modelData.role + "  " + modelData.statusLabel }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "makeAdmin_" + modelData.id
                text: qsTr("Tee admin"); Accessible.name: text
                visible: modelData.canMakeAdmin
                onClicked: adminPanel.setUserRole(modelData.id, "admin")
            }
            Button {
                objectName: "makeUser_" + modelData.id
                text: qsTr("Tee user"); Accessible.name: text
                visible: modelData.canMakeUser
                onClicked: adminPanel.setUserRole(modelData.id, "user")
            }
            Button {
                objectName: "enable_" + modelData.id
                text: qsTr("Aktivoi"); Accessible.name: text
                visible: modelData.canEnable
                onClicked: adminPanel.setUserEnabled(modelData.id, true)
            }
            Button {
                objectName: "disable_" + modelData.id
                text: qsTr("Estä"); Accessible.name: text
                visible: modelData.canDisable
                onClicked: adminPanel.setUserEnabled(modelData.id, false)
            }
            Button {
                objectName: "resetPassword_" + modelData.id
                text: qsTr("Nollaa salasana"); Accessible.name: text
                onClicked: adminPanel.resetUserPassword(modelData.id)
            }
            Button {
                objectName: "deleteUser_" + modelData.id
                text: qsTr("Poista"); Accessible.name: text
                onClicked: adminPanel.deleteUser(modelData.id)
            }
        }
    }
}
