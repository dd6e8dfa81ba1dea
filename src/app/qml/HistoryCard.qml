import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "historyCard"
    title: qsTr("Sessiot")

    // The controller ignores deletions while recording; none starts while another runs.
    readonly property bool deletingAll: transcription.isDeletingAllSessions
    readonly property bool canDelete: !transcription.isRecording && !transcription.isStartingRecording
                                      && !transcription.isDeletingSessions

    Label {
        text: qsTr("Sessiot tallennetaan tämän tietokoneen paikalliseen muistiin.")
        opacity: 0.7
    }
    Label {
        objectName: "noSessionsLabel"
        visible: sessionRepeater.count === 0
        text: qsTr("Ei tallennettuja sessioita.")
    }
    Repeater {
        id: sessionRepeater
        objectName: "sessionRepeater"
        model: transcription.sessionHistory
        RowLayout {
            objectName: "sessionRow_" + model.sessionId
            spacing: 8
            Label {
                objectName: "sessionLabel_" + model.sessionId
                textFormat: Text.PlainText
                text: model.endedAtLabel + " • " + model.segmentCount + qsTr(" segmenttiä")
                font.weight: model.sessionId === transcription.selectedSessionHistoryId
                             ? Font.DemiBold : Font.Normal
                Layout.fillWidth: true
            }
            Button {
                objectName: "loadSession_" + model.sessionId
                text: qsTr("Lataa")
                Accessible.name: text
                enabled: !transcription.isRecording
                onClicked: transcription.loadSession(model.sessionId)
            }
            Button {
                objectName: "deleteSession_" + model.sessionId
                text: qsTr("Poista")
                Accessible.name: text
                enabled: canDelete
                onClicked: app.confirmDeleteSession(model.sessionId)
            }
        }
    }
    Button {
        objectName: "deleteAllSessionsButton"
        text: deletingAll ? qsTr("Poistetaan...") : qsTr("Poista kaikki")
        Accessible.name: text
        visible: sessionRepeater.count > 0
        enabled: canDelete
        onClicked: app.confirmDeleteAllSessions()
    }
}
