import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "diagnosticsCard"
    title: qsTr("Diagnostiikka (edistynyt)")
    collapsible: true
    toggleName: "diagnosticsToggle"

    // Members a newer controller publishes read as false on an older one.
    readonly property bool exporting: transcription.isExportingDiagnostics === true

    Label {
        text: qsTr("Diagnostiikkapaketti sisältää asetukset, äänen tilan, transkriptin ja sovelluksen lokin tukea varten.")
        wrapMode: Text.Wrap
        opacity: 0.7
        Layout.fillWidth: true
    }
    Flow {
        Layout.fillWidth: true
        spacing: 8
        Button {
            objectName: "exportDiagnosticsButton"
            text: exporting ? qsTr("Kootaan...") : qsTr("Vie diagnostiikka")
            Accessible.name: text
            enabled: !exporting
            onClicked: transcription.exportDiagnosticsPackage()
        }
        Button {
            objectName: "copySupportTemplateButton"
            text: qsTr("Kopioi tukiviesti")
            Accessible.name: text
            onClicked: transcription.copyDiagnosticsSupportTemplate()
        }
        Button {
            objectName: "openDiagnosticsButton"
            text: qsTr("Avaa viimeisin")
            Accessible.name: text
            onClicked: transcription.openLatestDiagnostics()
        }
        Button {
            objectName: "revealDiagnosticsButton"
            text: qsTr("Näytä tiedostonhallinnassa")
            Accessible.name: text
            onClicked: transcription.revealLatestDiagnosticsInFileManager()
        }
        Button {
            objectName: "restoreCrashedSessionButton"
            text: transcription.isCrashRecoveryRunning ? qsTr("Palautetaan...") : qsTr("Palauta kaatunut sessio")
            Accessible.name: text
            enabled: !transcription.isCrashRecoveryRunning
            onClicked: transcription.restoreLatestCrashedSessionFromDiagnostics()
        }
    }
    Label {
        objectName: "lastDiagnosticsFileName"
        visible: transcription.lastDiagnosticsFileName.length > 0
        textFormat: Text.PlainText
        text: qsTr("Viimeisin paketti: ") + transcription.lastDiagnosticsFileName
        elide: Text.ElideMiddle
        Layout.fillWidth: true
    }
}
