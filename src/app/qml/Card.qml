import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A titled section of the main column.
Frame {
    id: card
    property string title
    default property alias content: body.data
    Layout.fillWidth: true

    ColumnLayout {
        id: body
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 8
        Label {
            text: card.title
            font.pixelSize: 17
            font.weight: Font.ExtraBold
        }
    }
}
