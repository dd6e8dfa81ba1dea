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
    TextField {
        objectName: "sessionSearchField"
        placeholderText: qsTr("Hae sessioista")
        Accessible.name: qsTr("Hae sessioista")
        Layout.fillWidth: true
        text: sessionSearch.query
        onTextEdited: sessionSearch.query = text
        onAccepted: sessionSearch.searchNow()
        Keys.onEscapePressed: sessionSearch.query = ""
    }
    Label {
        objectName: "noSearchResultsLabel"
        visible: sessionSearch.noResults
        text: qsTr("Ei osumia.")
    }
    Repeater {
        objectName: "searchResultRepeater"
        model: sessionSearch
        RowLayout {
            spacing: 8
            Label {
                text: model.dateLabel + " " + model.timeLabel
                opacity: 0.7
            }
            Label {
                // Escaped by the model; its <b> marks around the matches are the only markup.
                text: model.snippetHtml
                textFormat: Text.StyledText
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Button {
                text: qsTr("Lataa")
                Accessible.name: text
                enabled: !transcription.isRecording
                onClicked: transcription.loadSession(model.sessionId)
            }
        }
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
