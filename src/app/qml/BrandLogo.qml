pragma ComponentBehavior: Bound
import QtQuick

// The Vernalo mark: three rising bars and a V, drawn with plain rectangles.
Rectangle {
    id: logo
    property color ink: "#f2c14e"
    implicitWidth: 44
    implicitHeight: 44
    radius: width * 0.22
    color: "#14202b"
    Accessible.role: Accessible.Graphic
    Accessible.name: "Vernalo"

    Repeater {
        model: [0.25, 0.5, 0.75]
        Rectangle {
            required property real modelData
            required property int index
            width: logo.width * 0.07
            height: logo.height * 0.6 * modelData
            radius: width / 2
            color: logo.ink
            x: logo.width * (0.18 + index * 0.12)
            y: (logo.height - height) / 2
        }
    }
    Rectangle {
        width: logo.width * 0.07
        height: logo.height * 0.45
        radius: width / 2
        color: "white"
        x: logo.width * 0.6
        y: logo.height * 0.26
        rotation: -17
        transformOrigin: Item.Bottom
    }
    Rectangle {
        width: logo.width * 0.07
        height: logo.height * 0.45
        radius: width / 2
        color: "white"
        x: logo.width * 0.6
        y: logo.height * 0.26
        rotation: 17
        transformOrigin: Item.Bottom
    }
}
