pragma ComponentBehavior: Bound
import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "historyCard"
    title: qsTr("Sessiot")

    // The controller ignores deletions while recording; none starts while another runs.
    readonly property bool deletingAll: App.transcription.isDeletingAllSessions
    readonly property bool canDelete: !App.transcription.isRecording && !App.transcription.isStartingRecording
                                      && !App.transcription.isDeletingSessions

    Label {
        text: qsTr("Sessiot tallennetaan tämän tietokoneen paikalliseen muistiin.")
        color: Theme.mutedText
    }
    Label {
        objectName: "noSessionsLabel"
        visible: sessionRepeater.count === 0
        text: qsTr("Ei tallennettuja sessioita.")
    }
    Repeater {
        id: sessionRepeater
        objectName: "sessionRepeater"
        model: App.transcription.sessionHistory
        RowLayout {
            id: row
            required property string sessionId
            required property string endedAtLabel
            required property int segmentCount
            objectName: "sessionRow_" + sessionId
            spacing: Theme.unit
            Label {
                objectName: "sessionLabel_" + row.sessionId
                text: row.endedAtLabel + " • " + row.segmentCount + qsTr(" segmenttiä")
                font.weight: row.sessionId === App.transcription.selectedSessionHistoryId
                             ? Font.DemiBold : Font.Normal
                Layout.fillWidth: true
            }
            Button {
                objectName: "loadSession_" + row.sessionId
                text: qsTr("Lataa")
                Accessible.name: text
                enabled: !App.transcription.isRecording
                onClicked: App.transcription.loadSession(row.sessionId)
            }
            Button {
                objectName: "deleteSession_" + row.sessionId
                text: qsTr("Poista")
                Accessible.name: text
                enabled: card.canDelete
                onClicked: App.transcription.deleteSession(row.sessionId)
            }
        }
    }
    Button {
        objectName: "deleteAllSessionsButton"
        text: card.deletingAll ? qsTr("Poistetaan...") : qsTr("Poista kaikki")
        Accessible.name: text
        visible: sessionRepeater.count > 0
        enabled: card.canDelete
        onClicked: App.transcription.deleteAllSessions()
    }
}
