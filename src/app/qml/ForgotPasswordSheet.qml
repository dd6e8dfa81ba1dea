import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Dialog {
    id: sheet
    objectName: "forgotPasswordSheet"
    title: qsTr("Salasanan palautus")
    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(460, Overlay.overlay ? Overlay.overlay.width - 40 : 460)
    onClosed: passwordReset.reset()

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Label {
            text: qsTr("Syötä sähköpostiosoitteesi. Lähetämme palautusohjeen, jos auth-palvelu tukee toimintoa.")
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        TextField {
            objectName: "resetEmailField"
            placeholderText: qsTr("etunimi.sukunimi@kestrova.fi")
            Accessible.name: qsTr("Sähköposti")
            text: passwordReset.resetEmail
            onTextEdited: passwordReset.resetEmail = text
            Layout.fillWidth: true
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                objectName: "resetSendButton"
                text: passwordReset.isSendingReset ? qsTr("Lähetetään...") : qsTr("Lähetä palautusohje")
                Accessible.name: text
                enabled: !passwordReset.isSendingReset
                highlighted: true
                onClicked: passwordReset.send()
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
            visible: passwordReset.resetMessage.length > 0
            textFormat: Text.PlainText
            text: passwordReset.resetMessage
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Label {
            objectName: "resetError"
            visible: passwordReset.resetError.length > 0
            textFormat: Text.PlainText
            text: passwordReset.resetError
            color: "#b3261e"
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
