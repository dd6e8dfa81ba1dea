import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// A titled section. An advanced section starts folded and opens from the button beside its
// title; headerItems sit on the title row, and a card that fills its height gives it to its body.
Frame {
    id: card
    property string title
    property bool collapsible: false
    property bool expanded: !collapsible
    property bool fillBody: false
    // The object name of the fold button, for tests and the screenshot tour.
    property string toggleName: ""
    property alias headerItems: headerExtras.data
    default property alias content: body.data
    Layout.fillWidth: true
    padding: Theme.unit * 2

    background: Rectangle {
        color: Theme.card
        border.color: Theme.border
        radius: Theme.radius
    }

    ColumnLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        height: card.fillBody ? parent.height : implicitHeight
        spacing: Theme.unit
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.unit * 2
            Label {
                text: card.title
                font.pixelSize: 16
                font.weight: Font.ExtraBold
                Accessible.role: Accessible.Heading
            }
            RowLayout {
                id: headerExtras
                spacing: Theme.unit * 2
            }
            Item { Layout.fillWidth: true }
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
            Layout.fillHeight: card.fillBody
            spacing: Theme.unit
        }
    }
}
