import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Shows the prompts, confirmations, messages and save dialogs the core asks for, one at a
// time, and answers each through App.desktop.respond().
Item {
    id: host
    property var queue: []
    property var current: null

    function show(request) {
        current = request
        if (request.kind === "save") {
            saveDialog.title = request.fields.title || qsTr("Tallenna")
            saveDialog.nameFilters = request.fields.nameFilters && request.fields.nameFilters.length
                    ? request.fields.nameFilters : ["*"]
            saveDialog.currentFolder = request.fields.directory
            saveDialog.selectedFile = request.fields.directory + "/" + request.fields.suggestedFileName
            saveDialog.open()
        } else {
            promptDialog.open()
        }
    }
    function finish(accepted, value) {
        const request = current
        current = null
        App.desktop.respond(request.id, accepted, value || "")
        if (queue.length > 0) {
            const next = queue[0]
            queue = queue.slice(1)
            show(next)
        }
    }

    Connections {
        target: App.desktop
        function onDialogRequested(requestId, kind, fields) {
            const request = { id: requestId, kind: kind, fields: fields }
            if (host.current === null)
                host.show(request)
            else
                host.queue = host.queue.concat([request])
        }
    }

    Dialog {
        id: promptDialog
        objectName: "promptDialog"
        modal: true
        anchors.centerIn: Overlay.overlay
        width: 480
        closePolicy: Popup.CloseOnEscape
        title: host.current ? host.current.fields.title : ""
        property bool answered: false
        onAboutToShow: {
            answered = false
            promptField.text = host.current && host.current.fields.initialText ? host.current.fields.initialText : ""
            if (host.current && host.current.kind === "prompt")
                promptField.forceActiveFocus()
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 10
            Label {
                objectName: "promptText"
                textFormat: Text.PlainText
                text: host.current ? (host.current.fields.informativeText || host.current.fields.message || "") : ""
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            TextField {
                id: promptField
                objectName: "promptField"
                visible: host.current !== null && host.current.kind === "prompt"
                placeholderText: host.current && host.current.fields.placeholder ? host.current.fields.placeholder : ""
                Accessible.name: host.current ? (host.current.fields.title || placeholderText) : ""
                echoMode: host.current && host.current.fields.secure ? TextInput.Password : TextInput.Normal
                Layout.fillWidth: true
                Layout.preferredWidth: 420
                onAccepted: acceptButton.clicked()
            }
            RowLayout {
                Layout.fillWidth: true
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "promptCancelButton"
                    visible: host.current !== null && host.current.kind !== "message"
                    text: host.current && host.current.fields.cancelButton ? host.current.fields.cancelButton : qsTr("Peruuta")
                    Accessible.name: text
                    onClicked: { promptDialog.answered = true; promptDialog.close(); host.finish(false, "") }
                }
                Button {
                    id: acceptButton
                    objectName: "promptAcceptButton"
                    highlighted: true
                    text: host.current && host.current.fields.acceptButton ? host.current.fields.acceptButton : qsTr("OK")
                    Accessible.name: text
                    onClicked: {
                        promptDialog.answered = true
                        promptDialog.close()
                        host.finish(true, promptField.text)
                    }
                }
            }
        }
        onClosed: if (!answered && host.current) host.finish(false, "")
    }

    FileDialog {
        id: saveDialog
        objectName: "saveDialog"
        fileMode: FileDialog.SaveFile
        onAccepted: host.finish(true, String(selectedFile))
        onRejected: host.finish(false, "")
    }
}
