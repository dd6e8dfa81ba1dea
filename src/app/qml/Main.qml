import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1280
    height: 800
    visible: true
    title: "Vernalo"

    Label {
        anchors.centerIn: parent
        text: "Vernalo"
        font.pixelSize: 32
    }
}
