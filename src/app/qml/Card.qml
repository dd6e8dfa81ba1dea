import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A titled section of the main column. An advanced section starts folded and opens from the
// button beside its title.
Frame {
    id: card
    property string title
    property bool collapsible: false
    property bool expanded: !collapsible
    // The object name of the fold button, for tests and the screenshot tour.
    property string toggleName: ""
    default property alias content: body.data
    Layout.fillWidth: true

    ColumnLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 8
        RowLayout {
            Layout.fillWidth: true
            Label {
                text: card.title
                font.pixelSize: 17
                font.weight: Font.ExtraBold
                Layout.fillWidth: true
            }
            ToolButton {
                objectName: card.toggleName
                visible: card.collapsible
                text: card.expanded ? qsTr("Piilota") : qsTr("Näytä")
                Accessible.name: card.title + " " + text
                onClicked: card.expanded = !card.expanded
            }
        }
        ColumnLayout {
            id: body
            visible: card.expanded
            Layout.fillWidth: true
            spacing: 8
        }
    }
}
