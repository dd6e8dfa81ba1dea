pragma ComponentBehavior: Bound
import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Card {
    id: card
    objectName: "transcriptCard"
    title: qsTr("Transkriptio")

    // Words of the segments' own text, counted by the model as segments arrive.
    readonly property int wordCount: App.transcription.segments.wordCount

    Label {
        objectName: "transcriptCounts"
        text: (card.wordCount === 1 ? qsTr("1 sana") : qsTr("%1 sanaa").arg(card.wordCount))
              + qsTr(" • %1 segmenttiä").arg(App.transcription.segments.count)
        opacity: 0.7
    }
    RowLayout {
        visible: App.transcription.sessionId.length > 0
        spacing: 8
        Label {
            objectName: "sessionIdLabel"
            text: qsTr("Sessio: ") + App.transcription.sessionId
        }
        ToolButton {
            objectName: "copySessionIdButton"
            text: qsTr("Kopioi ID")
            Accessible.name: text
            onClicked: App.transcription.copySessionIdToClipboard()
        }
    }
    Frame {
        Layout.fillWidth: true
        Layout.preferredHeight: 260
        ListView {
            id: segmentList
            objectName: "segmentList"
            anchors.fill: parent
            clip: true
            model: App.transcription.segments
            onCountChanged: positionViewAtEnd()
            delegate: Item {
                id: segment
                required property string timeLabel
                required property bool hasSpeakerLabel
                required property string speakerLabel
                required property string text
                width: ListView.view.width
                implicitHeight: line.implicitHeight
                Label {
                    id: line
                    width: parent.width
                    wrapMode: Text.Wrap
                    textFormat: Text.PlainText
                    text: "[" + segment.timeLabel + "] "
                          + (segment.hasSpeakerLabel ? segment.speakerLabel + ": " : "") + segment.text
                }
            }
            footer: Label {
                objectName: "interimText"
                width: ListView.view.width
                wrapMode: Text.Wrap
                text: App.transcription.interimText
                opacity: 0.6
            }
        }
    }
    RowLayout {
        spacing: 8
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
            visible: App.transcription.showSystemAudioPermissionHelp
                     && App.transcription.canRequestSystemAudioPermissionPrompt
            onClicked: App.transcription.requestSystemAudioPermissionFromUI()
        }
        Button {
            objectName: "openSystemAudioSettingsButton"
            text: qsTr("Avaa asetukset")
            Accessible.name: text
            visible: App.transcription.showSystemAudioPermissionHelp
                     && App.transcription.shouldOpenSystemAudioSystemSettings
            onClicked: App.transcription.openSystemAudioSystemSettings()
        }
        Button {
            objectName: "relaunchButton"
            text: qsTr("Käynnistä appi uudelleen")
            Accessible.name: text
            visible: App.transcription.shouldSuggestSystemAudioRelaunch
            onClicked: App.transcription.relaunchApplication()
        }
    }
    Label {
        objectName: "microphonePermissionHint"
        visible: !App.transcription.isMicrophonePermissionGranted
        text: App.transcription.microphonePermissionSummary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
