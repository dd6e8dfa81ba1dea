import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: mainView
    objectName: "mainView"

    Component.onCompleted: app.mainWindowShown()

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
                width: scroller.availableWidth - 12
                spacing: 12
                ControlCard {}
                TranscriptCard {}
                SettingsCard {}
                ActionsCard {}
                AdminCard { visible: adminFeatureEnabled && auth.isAdmin }
                ConnectionCard {}
                HistoryCard {}
            }
        }
    }
}
