import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "connectionCard"
    title: qsTr("Yhteysasetukset (edistynyt)")
    collapsible: true
    toggleName: "connectionToggle"

    // One stored address or key of the configuration, "" when unset.
    function field(key) {
        return lookup(App.transcription.settings.config, key)
    }
    function lookup(map, key) {
        return map[key] || ""
    }

    GridLayout {
        columns: 3
        columnSpacing: Theme.unit * 2
        Layout.fillWidth: true
        Label { text: qsTr("Backend URL") }
        RowLayout {
            Layout.fillWidth: true
            Label {
                objectName: "backendURLValue"
                text: card.field("baseURL")
                elide: Text.ElideMiddle
                textFormat: Text.PlainText
                Layout.fillWidth: true
            }
            Label {
                objectName: "backendURLUnencrypted"
                visible: App.isUnencryptedRemote(card.field("baseURL"))
                text: qsTr("Yhteys ei ole salattu")
                color: Theme.recording
            }
        }
        Button {
            objectName: "editBackendURLButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Backend URL") + " " + text
            onClicked: App.transcription.promptForBackendURL()
        }
        Label { text: qsTr("API Key") }
        // The key itself never shows on screen.
        Label {
            objectName: "apiKeyValue"
            Layout.fillWidth: true
            text: card.field("apiKey").length > 0 ? "••••••••" : ""
        }
        Button {
            objectName: "editAPIKeyButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("API Key") + " " + text
            onClicked: App.transcription.promptForAPIKey()
        }
        Label { text: qsTr("Auth URL") }
        RowLayout {
            Layout.fillWidth: true
            Label {
                objectName: "authURLValue"
                text: App.auth.authURL
                elide: Text.ElideMiddle
                textFormat: Text.PlainText
                Layout.fillWidth: true
            }
            Label {
                objectName: "authURLUnencrypted"
                visible: App.isUnencryptedRemote(App.auth.authURL)
                text: qsTr("Yhteys ei ole salattu")
                color: Theme.recording
            }
        }
        Button {
            objectName: "editAuthURLButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Auth URL") + " " + text
            onClicked: App.auth.editAuthURL()
        }
        Label { text: qsTr("Päivitysfeed URL") }
        RowLayout {
            Layout.fillWidth: true
            Label {
                objectName: "updateFeedURLValue"
                text: card.field("updateManifestURL")
                elide: Text.ElideMiddle
                textFormat: Text.PlainText
                Layout.fillWidth: true
            }
            Label {
                objectName: "updateFeedURLUnencrypted"
                visible: App.isUnencryptedRemote(card.field("updateManifestURL"))
                text: qsTr("Yhteys ei ole salattu")
                color: Theme.recording
            }
        }
        Button {
            objectName: "editUpdateFeedButton"
            text: qsTr("Muokkaa")
            Accessible.name: qsTr("Päivitysfeed URL") + " " + text
            onClicked: App.transcription.promptForUpdateManifestURL()
        }
    }
    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        Button {
            objectName: "defaultBackendButton"
            text: qsTr("Oletus backend")
            Accessible.name: text
            onClicked: App.transcription.useDefaultBackendURL()
        }
        Button {
            objectName: "defaultAPIKeyButton"
            text: qsTr("Oletus API key")
            Accessible.name: text
            onClicked: App.transcription.useDefaultSharedAPIKey()
        }
        Button {
            objectName: "defaultAuthButton"
            text: qsTr("Oletus auth")
            Accessible.name: text
            onClicked: App.auth.useDefaultAuthURL()
        }
        Button {
            objectName: "defaultUpdateFeedButton"
            text: qsTr("Oletus päivitysfeed")
            Accessible.name: text
            onClicked: App.transcription.useDefaultUpdateManifestURL()
        }
        Button {
            objectName: "apiKeyFromClipboardButton"
            text: qsTr("API key leikepöydältä")
            Accessible.name: text
            onClicked: App.transcription.useAPIKeyFromClipboard()
        }
    }
}
