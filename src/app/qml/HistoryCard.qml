import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Card {
    objectName: "historyCard"
    title: qsTr("Sessiot")

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
            spacing: 8
            Label {
                objectName: "sessionRow"
                text: model.endedAtLabel + " • " + model.segmentCount + qsTr(" segmenttiä")
                Layout.fillWidth: true
            }
            Button {
                objectName: "loadSession_" + model.sessionId
                text: qsTr("Lataa")
                Accessible.name: text
                onClicked: transcription.loadSession(model.sessionId)
            }
            Button {
                objectName: "deleteSession_" + model.sessionId
                text: qsTr("Poista")
                Accessible.name: text
                // Deleting a session is not wired yet.
                enabled: false
            }
        }
    }
    Button {
        objectName: "deleteAllSessionsButton"
        text: qsTr("Poista kaikki")
        Accessible.name: text
        visible: sessionRepeater.count > 0
        enabled: false
    }
}
