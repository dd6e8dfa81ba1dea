import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// A source choice: "Auto" first, then the controller's options by name, and a refresh button.
// A stored choice that is missing from the list still shows as itself, by its stored value.
RowLayout {
    id: picker
    property string boxName
    property string buttonName
    property string label
    property string refreshText
    property string autoName
    property string key: "id"
    property var autoValue: 0
    property var options: []
    property var selected: autoValue
    signal picked(var value)
    signal refresh()

    readonly property var entries: {
        const all = [{ value: autoValue, name: autoName }]
        let found = selected === autoValue
        for (let i = 0; i < options.length; ++i) {
            all.push({ value: options[i][key], name: options[i].name })
            found = found || options[i][key] === selected
        }
        if (!found)
            all.push({ value: selected, name: String(selected) })
        return all
    }

    Layout.fillWidth: true
    spacing: Theme.unit

    ComboBox {
        objectName: picker.boxName
        Accessible.name: picker.label
        Layout.fillWidth: true
        Layout.minimumWidth: 120
        model: picker.entries
        textRole: "name"
        valueRole: "value"
        currentIndex: Math.max(0, indexOfValue(picker.selected))
        onActivated: picker.picked(currentValue)
    }
    Button {
        objectName: picker.buttonName
        text: picker.refreshText
        Accessible.name: text
        onClicked: picker.refresh()
    }
}
