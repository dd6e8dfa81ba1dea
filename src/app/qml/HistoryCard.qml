pragma ComponentBehavior: Bound
import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "historyCard"
    title: qsTr("Sessiot")

    // A search hit was loaded: its transcript should show the hit's segment.
    signal segmentChosen(int segmentIndex)

    // The controller ignores deletions while recording; none starts while another runs.
    readonly property bool deletingAll: App.transcription.history.isDeletingAllSessions
    readonly property bool canDelete: !App.transcription.isRecording && !App.transcription.isStartingRecording
                                      && !App.transcription.history.isDeletingSessions

    Label {
        text: qsTr("Sessiot tallennetaan tämän tietokoneen paikalliseen muistiin.")
        color: Theme.mutedText
    }
    TextField {
        objectName: "sessionSearchField"
        placeholderText: qsTr("Hae sessioista")
        Accessible.name: qsTr("Hae sessioista")
        Layout.fillWidth: true
        text: App.sessionSearch.query
        onTextEdited: App.sessionSearch.query = text
        onAccepted: App.sessionSearch.searchNow()
        Keys.onEscapePressed: App.sessionSearch.query = ""
    }
    Label {
        objectName: "noSearchResultsLabel"
        visible: App.sessionSearch.noResults
        text: qsTr("Ei osumia.")
    }
    Repeater {
        objectName: "searchResultRepeater"
        model: App.sessionSearch
        RowLayout {
            id: hit
            required property string sessionId
            required property string dateLabel
            required property string timeLabel
            required property string snippetHtml
            required property int segmentIndex
            spacing: Theme.unit
            Label {
                text: hit.dateLabel + " " + hit.timeLabel
                color: Theme.mutedText
            }
            Label {
                // Escaped by the model; its <b> marks around the matches are the only markup.
                text: hit.snippetHtml
                textFormat: Text.StyledText
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Button {
                objectName: "searchResult_" + hit.sessionId + "_" + hit.segmentIndex
                text: qsTr("Lataa")
                Accessible.name: text
                enabled: !App.transcription.isRecording
                onClicked: {
                    App.transcription.loadSession(hit.sessionId)
                    if (App.transcription.history.selectedSessionHistoryId === hit.sessionId)
                        card.segmentChosen(hit.segmentIndex)
                }
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
        model: App.transcription.history.sessionHistory
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
                textFormat: Text.PlainText
                font.weight: row.sessionId === App.transcription.history.selectedSessionHistoryId
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
                onClicked: App.confirmDeleteSession(row.sessionId)
            }
        }
    }
    Button {
        objectName: "deleteAllSessionsButton"
        text: card.deletingAll ? qsTr("Poistetaan...") : qsTr("Poista kaikki")
        Accessible.name: text
        visible: sessionRepeater.count > 0
        enabled: card.canDelete
        onClicked: App.confirmDeleteAllSessions()
    }
}
