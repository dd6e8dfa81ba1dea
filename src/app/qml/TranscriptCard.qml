import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "transcriptCard"
    title: qsTr("Transkriptio")

    readonly property int wordCount: {
        const text = transcription.transcriptText.trim()
        return text.length === 0 ? 0 : text.split(/\s+/).length
    }

    Label {
        objectName: "transcriptCounts"
        text: qsTr("%1 sanaa • %2 segmenttiä").arg(wordCount).arg(segmentList.count)
        opacity: 0.7
    }
    RowLayout {
        visible: transcription.sessionId.length > 0
        spacing: 8
        Label {
            objectName: "sessionIdLabel"
            textFormat: Text.PlainText
            text: qsTr("Sessio: ") + transcription.sessionId
        }
        ToolButton {
            objectName: "copySessionIdButton"
            text: qsTr("Kopioi ID")
            Accessible.name: text
            onClicked: transcription.copySessionIdToClipboard()
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
            model: transcription.segments
            onCountChanged: positionViewAtEnd()
            delegate: Label {
                width: ListView.view.width
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                text: "[" + model.timeLabel + "] "
                      + (model.hasSpeakerLabel ? model.speakerLabel + ": " : "") + model.text
            }
            footer: Label {
                objectName: "interimText"
                width: ListView.view.width
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                text: transcription.interimText
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
            onClicked: transcription.copyTranscriptToClipboard()
        }
        Button {
            objectName: "grantSystemAudioButton"
            text: qsTr("Anna lupa")
            Accessible.name: text
            visible: transcription.permissions.showSystemAudioPermissionHelp
                     && transcription.permissions.canRequestSystemAudioPermissionPrompt
            onClicked: transcription.permissions.requestSystemAudioPermissionFromUI()
        }
        Button {
            objectName: "openSystemAudioSettingsButton"
            text: qsTr("Avaa asetukset")
            Accessible.name: text
            visible: transcription.permissions.showSystemAudioPermissionHelp
                     && transcription.permissions.shouldOpenSystemAudioSystemSettings
            onClicked: transcription.permissions.openSystemAudioSystemSettings()
        }
        Button {
            objectName: "relaunchButton"
            text: qsTr("Käynnistä appi uudelleen")
            Accessible.name: text
            visible: transcription.permissions.shouldSuggestSystemAudioRelaunch
            onClicked: transcription.permissions.relaunchApplication()
        }
    }
    Label {
        objectName: "microphonePermissionHint"
        visible: !transcription.permissions.isMicrophonePermissionGranted
        textFormat: Text.PlainText
        text: transcription.permissions.microphonePermissionSummary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
