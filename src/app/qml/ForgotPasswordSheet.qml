import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Dialog {
    id: sheet
    objectName: "forgotPasswordSheet"
    title: qsTr("Salasanan palautus")
    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(460, Overlay.overlay ? Overlay.overlay.width - 40 : 460)
    closePolicy: Popup.CloseOnEscape
    onOpened: resetEmailField.forceActiveFocus()
    onClosed: App.passwordReset.reset()

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Label {
            text: qsTr("Syötä sähköpostiosoitteesi. Lähetämme palautusohjeen, jos auth-palvelu tukee toimintoa.")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        TextField {
            id: resetEmailField
            objectName: "resetEmailField"
            placeholderText: qsTr("etunimi.sukunimi@kestrova.fi")
            Accessible.name: qsTr("Sähköposti")
            text: App.passwordReset.resetEmail
            onTextEdited: App.passwordReset.resetEmail = text
            onAccepted: if (sendButton.enabled) App.passwordReset.send()
            Layout.fillWidth: true
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                id: sendButton
                objectName: "resetSendButton"
                text: App.passwordReset.isSendingReset ? qsTr("Lähetetään...") : qsTr("Lähetä palautusohje")
                Accessible.name: text
                enabled: !App.passwordReset.isSendingReset
                highlighted: true
                onClicked: App.passwordReset.send()
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "resetCloseButton"
                text: qsTr("Sulje")
                Accessible.name: text
                onClicked: sheet.close()
            }
        }
        Label {
            objectName: "resetMessage"
            visible: App.passwordReset.resetMessage.length > 0
            text: App.passwordReset.resetMessage
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            objectName: "resetError"
            visible: App.passwordReset.resetError.length > 0
            text: App.passwordReset.resetError
            textFormat: Text.PlainText
            color: Theme.recording
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
