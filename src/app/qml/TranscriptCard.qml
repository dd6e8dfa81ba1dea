pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// The live or loaded transcript, filling the height it is given. Each line is plain,
// selectable text; the view follows new text only while it is scrolled to the end.
Card {
    id: card
    objectName: "transcriptCard"
    title: qsTr("Transkriptio")
    fillBody: true

    // Words of the segments' own text, counted by the model as segments arrive.
    readonly property int wordCount: App.transcription.segments.wordCount
    property bool following: true

    function focusSearch() {
        searchField.forceActiveFocus()
        searchField.selectAll()
    }
    // A segment the user asked for (a session search hit); the view stays there.
    function showSegment(row) {
        following = false
        segmentList.forceLayout()
        segmentList.positionViewAtIndex(row, ListView.Center)
    }
    function showNewest() {
        following = true
        segmentList.positionViewAtEnd()
    }

    TranscriptSearch {
        id: search
        model: App.transcription.segments
        query: searchField.text
    }
    // Each new hit is brought into view; the view then stays there instead of following.
    readonly property int hitRow: search.currentRow
    onHitRowChanged: if (hitRow >= 0) {
        following = false
        segmentList.positionViewAtIndex(hitRow, ListView.Center)
    }

    headerItems: [
        Label {
            objectName: "transcriptCounts"
            text: (card.wordCount === 1 ? qsTr("1 sana") : qsTr("%1 sanaa").arg(card.wordCount))
                  + qsTr(" • %1 segmenttiä").arg(App.transcription.segments.count)
            color: Theme.mutedText
        },
        TextField {
            id: searchField
            objectName: "transcriptSearch"
            placeholderText: qsTr("Hae transkriptiosta (Ctrl+F)")
            Accessible.name: qsTr("Hae transkriptiosta")
            Layout.preferredWidth: 240
            selectByMouse: true
            onAccepted: search.next()
            Keys.onEscapePressed: text = ""
        },
        Label {
            objectName: "searchHits"
            visible: searchField.text.trim().length > 0
            text: search.currentNumber + "/" + search.hitCount
            color: search.hitCount > 0 ? Theme.text : Theme.recording
        }
    ]

    RowLayout {
        visible: App.transcription.sessionId.length > 0
        spacing: Theme.unit
        Label {
            objectName: "sessionIdLabel"
            text: qsTr("Sessio: ") + App.transcription.sessionId
            textFormat: Text.PlainText
            color: Theme.mutedText
            elide: Text.ElideMiddle
            Layout.fillWidth: true
        }
        ToolButton {
            objectName: "copySessionIdButton"
            text: qsTr("Kopioi ID")
            Accessible.name: text
            onClicked: App.transcription.copySessionIdToClipboard()
        }
    }

    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 120

        ListView {
            id: segmentList
            objectName: "segmentList"
            anchors.fill: parent
            clip: true
            spacing: Theme.unit
            model: App.transcription.segments
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { objectName: "transcriptScrollBar" }
            // A person scrolling back to read stops the following; reaching the end resumes it.
            onMovementEnded: card.following = atYEnd
            onCountChanged: if (card.following) positionViewAtEnd()
            onContentHeightChanged: if (card.following) positionViewAtEnd()

            delegate: RowLayout {
                id: row
                required property string timeLabel
                required property string speakerLabel
                required property bool hasSpeakerLabel
                required property string text
                width: ListView.view.width - Theme.unit
                spacing: Theme.unit
                Label {
                    text: row.timeLabel
                    color: Theme.mutedText
                    topPadding: 2
                    Layout.alignment: Qt.AlignTop
                }
                TextEdit {
                    id: line
                    Layout.fillWidth: true
                    readOnly: true
                    selectByMouse: true
                    selectByKeyboard: true
                    persistentSelection: true
                    wrapMode: TextEdit.Wrap
                    textFormat: TextEdit.PlainText
                    color: Theme.text
                    font.pixelSize: 15
                    selectionColor: Theme.accent
                    selectedTextColor: Theme.accentText
                    text: (row.hasSpeakerLabel ? row.speakerLabel + ": " : "") + row.text
                    TranscriptHighlighter {
                        document: line.textDocument
                        speakerLength: row.hasSpeakerLabel ? row.speakerLabel.length + 1 : 0
                        speakerColor: Theme.speakerColor(row.speakerLabel)
                        query: search.query
                        matchColor: Theme.highlight
                    }
                }
            }
            footer: Label {
                objectName: "interimText"
                width: ListView.view.width - Theme.unit
                topPadding: Theme.unit
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                text: App.transcription.interimText
                color: Theme.interim
                font.italic: true
            }
        }

        Label {
            objectName: "transcriptPlaceholder"
            anchors.centerIn: parent
            width: parent.width * 0.7
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            visible: segmentList.count === 0 && App.transcription.interimText.length === 0
            text: App.transcription.isRecording ? qsTr("Kuunnellaan – teksti ilmestyy tähän.")
                                                : qsTr("Transkriptio näkyy tässä, kun aloitat tallennuksen tai lataat session.")
            color: Theme.mutedText
        }

        Button {
            objectName: "newestButton"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: Theme.unit
            visible: !card.following && !segmentList.atYEnd && segmentList.count > 0
            text: qsTr("Uusimpaan")
            Accessible.name: text
            highlighted: true
            onClicked: card.showNewest()
        }
    }

    Flow {
        Layout.fillWidth: true
        spacing: Theme.unit
        Button {
            objectName: "copyTranscriptButton"
            text: qsTr("Kopioi")
            Accessible.name: text
            enabled: segmentList.count > 0
            onClicked: App.transcription.copyTranscriptToClipboard()
        }
        Button {
            objectName: "grantSystemAudioButton"
            text: qsTr("Anna lupa")
            Accessible.name: text
            visible: App.transcription.permissions.showSystemAudioPermissionHelp
                     && App.transcription.permissions.canRequestSystemAudioPermissionPrompt
            enabled: !App.transcription.permissions.isRequestingSystemAudioPermission
            onClicked: App.transcription.permissions.requestSystemAudioPermissionFromUI()
        }
        Button {
            objectName: "openSystemAudioSettingsButton"
            text: qsTr("Avaa asetukset")
            Accessible.name: text
            visible: App.transcription.permissions.showSystemAudioPermissionHelp
                     && App.transcription.permissions.shouldOpenSystemAudioSystemSettings
            enabled: !App.transcription.permissions.isRequestingSystemAudioPermission
            onClicked: App.transcription.permissions.openSystemAudioSystemSettings()
        }
        Button {
            objectName: "relaunchButton"
            text: qsTr("Käynnistä appi uudelleen")
            Accessible.name: text
            visible: App.transcription.permissions.shouldSuggestSystemAudioRelaunch
            onClicked: App.transcription.permissions.relaunchApplication()
        }
    }
    MicrophonePermissionRow { Layout.fillWidth: true }
}
