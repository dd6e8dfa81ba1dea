import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// One source's loudness as a bar; the level is linear 0..1 and shown on a square-root scale so
// ordinary speech fills a visible part of the bar.
RowLayout {
    id: meter
    property string label
    property real level: 0
    spacing: Theme.unit

    Label {
        text: meter.label
        color: Theme.mutedText
        font.pixelSize: 12
        Layout.preferredWidth: 96
        elide: Text.ElideRight
    }
    Rectangle {
        objectName: meter.objectName + "Track"
        Layout.preferredWidth: 160
        Layout.preferredHeight: Theme.unit
        radius: height / 2
        color: Theme.meterTrack
        Rectangle {
            objectName: meter.objectName + "Bar"
            height: parent.height
            radius: height / 2
            width: parent.width * Math.min(1, Math.sqrt(Math.max(0, meter.level)) * 1.6)
            color: Theme.success
            Behavior on width { NumberAnimation { duration: 80 } }
        }
    }
}
