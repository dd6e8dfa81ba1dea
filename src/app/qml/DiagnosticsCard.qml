import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "diagnosticsCard"
    title: qsTr("Diagnostiikka (edistynyt)")
    collapsible: true
    toggleName: "diagnosticsToggle"

    // Members a newer controller publishes read as false on an older one.
    readonly property bool exporting: App.transcription.support.isExportingDiagnostics === true
    readonly property string realtimeDiagnostics: App.transcription.realtimeDiagnosticsLabel || ""

    // The live counters of the running recording, for support.
    Label {
        objectName: "realtimeDiagnostics"
        visible: App.transcription.isRecording && card.realtimeDiagnostics.length > 0
        text: card.realtimeDiagnostics
        textFormat: Text.PlainText
        font.family: "monospace"
        font.pixelSize: 12
        color: Theme.mutedText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    Label {
        text: qsTr("Diagnostiikkapaketti sisältää asetukset, äänen tilan, transkriptin ja sovelluksen lokin tukea varten.")
        wrapMode: Text.Wrap
        color: Theme.mutedText
        Layout.fillWidth: true
    }
    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        Button {
            objectName: "exportDiagnosticsButton"
            text: card.exporting ? qsTr("Kootaan...") : qsTr("Vie diagnostiikka")
            Accessible.name: text
            enabled: !card.exporting
            onClicked: App.transcription.exportDiagnosticsPackage()
        }
        Button {
            objectName: "copySupportTemplateButton"
            text: qsTr("Kopioi tukiviesti")
            Accessible.name: text
            onClicked: App.transcription.copyDiagnosticsSupportTemplate()
        }
        Button {
            objectName: "openDiagnosticsButton"
            text: qsTr("Avaa viimeisin")
            Accessible.name: text
            onClicked: App.transcription.openLatestDiagnostics()
        }
        Button {
            objectName: "revealDiagnosticsButton"
            text: qsTr("Näytä tiedostonhallinnassa")
            Accessible.name: text
            onClicked: App.transcription.revealLatestDiagnosticsInFileManager()
        }
        Button {
            objectName: "restoreCrashedSessionButton"
            text: App.transcription.history.isCrashRecoveryRunning ? qsTr("Palautetaan...") : qsTr("Palauta kaatunut sessio")
            Accessible.name: text
            enabled: !App.transcription.history.isCrashRecoveryRunning
            onClicked: App.transcription.restoreLatestCrashedSessionFromDiagnostics()
        }
    }
    Label {
        objectName: "lastDiagnosticsFileName"
        visible: App.transcription.support.lastDiagnosticsFileName.length > 0
        text: qsTr("Viimeisin paketti: ") + App.transcription.support.lastDiagnosticsFileName
        textFormat: Text.PlainText
        elide: Text.ElideMiddle
        Layout.fillWidth: true
    }
}
