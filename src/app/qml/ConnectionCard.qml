import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "connectionCard"
    title: qsTr("Yhteysasetukset (edistynyt)")
    collapsible: true
    toggleName: "connectionToggle"

    GridLayout {
        columns: 3
        columnSpacing: 12
        Label { text: qsTr("Backend URL") }
        RowLayout {
            Label {
                objectName: "backendURLValue"
                textFormat: Text.PlainText
                text: transcription.config.baseURL || ""
                elide: Text.ElideMiddle
                Layout.preferredWidth: 420
            }
            Label {
                objectName: "backendURLUnencrypted"
                visible: app.isUnencryptedRemote(transcription.config.baseURL || "")
                text: qsTr("Yhteys ei ole salattu")
                color: "#b3261e"
            }
        }
        Button {
            objectName: "editBackendURLButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Backend URL") + " " + text
            onClicked: transcription.promptForBackendURL()
        }
        Label { text: qsTr("API Key") }
        // The key itself never shows on screen.
        Label {
            objectName: "apiKeyValue"
            text: (transcription.config.apiKey || "").length > 0 ? "••••••••" : ""
        }
        Button {
            objectName: "editAPIKeyButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("API Key") + " " + text
            onClicked: transcription.promptForAPIKey()
        }
        Label { text: qsTr("Auth URL") }
        RowLayout {
            Label {
                objectName: "authURLValue"
                textFormat: Text.PlainText
                text: auth.authURL
                elide: Text.ElideMiddle
                Layout.preferredWidth: 420
            }
            Label {
                objectName: "authURLUnencrypted"
                visible: app.isUnencryptedRemote(auth.authURL)
                text: qsTr("Yhteys ei ole salattu")
                color: "#b3261e"
            }
        }
        Button {
            objectName: "editAuthURLButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Auth URL") + " " + text
            onClicked: auth.editAuthURL()
        }
        Label { text: qsTr("Päivitysfeed URL") }
        RowLayout {
            Label {
                objectName: "updateFeedURLValue"
                textFormat: Text.PlainText
                text: transcription.config.updateManifestURL || ""
                elide: Text.ElideMiddle
                Layout.preferredWidth: 420
            }
            Label {
                objectName: "updateFeedURLUnencrypted"
                visible: app.isUnencryptedRemote(transcription.config.updateManifestURL || "")
                text: qsTr("Yhteys ei ole salattu")
                color: "#b3261e"
            }
        }
        Button {
            objectName: "editUpdateFeedButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Päivitysfeed URL") + " " + text
            onClicked: transcription.promptForUpdateManifestURL()
        }
    }
    Flow {
        Layout.fillWidth: true
        spacing: 8
        Button {
            objectName: "defaultBackendButton"
            text: qsTr("Oletus backend")
            Accessible.name: text
            onClicked: transcription.useDefaultBackendURL()
        }
        Button {
            objectName: "defaultAPIKeyButton"
            text: qsTr("Oletus API key")
            Accessible.name: text
            onClicked: transcription.useDefaultSharedAPIKey()
        }
        Button {
            objectName: "defaultAuthButton"
            text: qsTr("Oletus auth")
            Accessible.name: text
            onClicked: auth.useDefaultAuthURL()
        }
        Button {
            objectName: "defaultUpdateFeedButton"
            text: qsTr("Oletus päivitysfeed")
            Accessible.name: text
            onClicked: transcription.useDefaultUpdateManifestURL()
        }
        Button {
            objectName: "apiKeyFromClipboardButton"
            text: qsTr("API key leikepöydältä")
            Accessible.name: text
            onClicked: transcription.useAPIKeyFromClipboard()
        }
    }
}
