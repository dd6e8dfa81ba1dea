import QtQuick
import QtQuick.Controls
import Vernalo

// A short-lived message near the bottom of the window, so an action's result shows where the
// person looks, whatever the scroll position of the panel that holds the button.
Rectangle {
    id: toast
    objectName: "toast"
    property alias text: label.text
    function show(message) {
        if (message.length === 0)
            return
        label.text = message
        opacity = 1
        hideTimer.restart()
    }

    visible: opacity > 0
    opacity: 0
    width: Math.min(label.implicitWidth + Theme.unit * 4, parent ? parent.width - Theme.unit * 6 : 600)
    height: label.implicitHeight + Theme.unit * 2
    radius: Theme.radius
    color: Theme.toast
    Behavior on opacity { NumberAnimation { duration: 150 } }

    Label {
        id: label
        objectName: "toastText"
        anchors.centerIn: parent
        width: parent.width - Theme.unit * 4
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: Theme.toastText
    }
    Timer { id: hideTimer; interval: 4000; onTriggered: toast.opacity = 0 }
}
