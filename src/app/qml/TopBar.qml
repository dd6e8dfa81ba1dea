import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

RowLayout {
    id: bar
    objectName: "topBar"
    spacing: 12

    BrandLogo { width: 44; height: 44 }
    ColumnLayout {
        spacing: 0
        Label { text: "Vernalo"; font.pixelSize: 22; font.weight: Font.Black }
        Label { text: qsTr("Reaaliaikainen litterointi suoraan työpöydällä"); color: Theme.mutedText }
    }
    Item { Layout.fillWidth: true }
    Label {
        objectName: "signedInEmail"
        text: App.auth.currentUser ? App.auth.currentUser.email : ""
        textFormat: Text.PlainText
    }
    Button {
        objectName: "changePasswordButton"
        text: qsTr("Vaihda salasana")
        Accessible.name: text
        onClicked: changePasswordSheet.open()
    }
    Button {
        objectName: "logoutButton"
        text: qsTr("Kirjaudu ulos")
        Accessible.name: text
        onClicked: App.signOut()
    }

    ChangePasswordSheet { id: changePasswordSheet }
}
