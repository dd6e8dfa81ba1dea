import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: mainView
    objectName: "mainView"

    Component.onCompleted: App.mainWindowShown()

    // Scrolls the main column so the named section starts at the top (or as far as it goes).
    function scrollToSection(name) {
        for (let i = 0; i < sections.children.length; ++i) {
            const section = sections.children[i]
            if (section.objectName === name) {
                const flick = scroller.contentItem
                const limit = Math.max(0, flick.contentHeight - flick.height)
                flick.contentY = Math.min(section.y, limit)
                return true
            }
        }
        return false
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        TopBar { Layout.fillWidth: true }

        ScrollView {
            id: scroller
            objectName: "mainScroll"
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: availableWidth
            clip: true

            ColumnLayout {
                id: sections
                width: scroller.availableWidth - 12
                spacing: 12
                ControlCard {}
                TranscriptCard {}
                SettingsCard {}
                ActionsCard {}
                DiagnosticsCard {}
                AdminCard { visible: App.adminFeatureEnabled && App.auth.isAdmin }
                ConnectionCard {}
                HistoryCard {}
            }
        }
    }
}
