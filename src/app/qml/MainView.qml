import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vernalo

// The main window as a meeting tool: the control card stays on top, the transcript takes the
// free height, and settings, actions, diagnostics, admin, connection and sessions keep their
// order in a scrolling side panel.
Item {
    id: mainView
    objectName: "mainView"

    Component.onCompleted: App.mainWindowShown()

    // Scrolls the side panel so the named section starts at the top (or as far as it goes).
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

    // Keeps the control that took keyboard focus inside the side panel's visible part.
    function revealFocused(item) {
        if (!item || !sections.contains(sections.mapFromItem(item, 0, 0)))
            return
        const flick = scroller.contentItem
        const top = item.mapToItem(sections, 0, 0).y
        const bottom = top + item.height
        if (top < flick.contentY)
            flick.contentY = Math.max(0, top - Theme.unit)
        else if (bottom > flick.contentY + flick.height)
            flick.contentY = Math.min(flick.contentHeight - flick.height, bottom - flick.height + Theme.unit)
    }
    Connections {
        target: mainView.Window.window
        function onActiveFocusItemChanged() { mainView.revealFocused(mainView.Window.window.activeFocusItem) }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.unit * 2
        spacing: Theme.unit * 2

        TopBar { Layout.fillWidth: true }
        ControlCard { id: controlCard; Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: Theme.unit * 2

            TranscriptCard {
                id: transcriptCard
                Layout.fillWidth: true
                Layout.fillHeight: true
            }

            ScrollView {
                id: scroller
                objectName: "mainScroll"
                Layout.preferredWidth: Math.round(Math.max(440, Math.min(560, mainView.width * 0.4)))
                Layout.fillHeight: true
                contentWidth: availableWidth
                clip: true

                ColumnLayout {
                    id: sections
                    objectName: "sidePanel"
                    width: scroller.availableWidth - Theme.unit * 1.5
                    spacing: Theme.unit * 2
                    SettingsCard {}
                    ActionsCard {}
                    DiagnosticsCard {}
                    AdminCard { visible: App.adminFeatureEnabled && App.auth.isAdmin }
                    ConnectionCard {}
                    // The session search field goes on top of this card.
                    HistoryCard {
                        onSegmentChosen: segmentIndex => transcriptCard.showSegment(segmentIndex)
                    }
                }
            }
        }
    }

    Toast {
        id: toast
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Theme.unit * 3
    }
    Connections {
        target: App.transcription
        function onStatusTextChanged() { toast.show(App.transcription.statusText) }
    }

    // Shortcuts of the main window; Ctrl+Q goes through the window's close path, which keeps a
    // running recording safe.
    Shortcut {
        objectName: "startStopShortcut"
        sequence: "Ctrl+R"
        onActivated: App.transcription.canStop ? App.transcription.stopRecording()
                                               : App.transcription.canStart ? App.transcription.startRecording() : undefined
    }
    Shortcut {
        objectName: "pauseShortcut"
        sequence: "Ctrl+P"
        onActivated: App.transcription.canPause ? App.transcription.pauseRecording()
                                                : App.transcription.canResume ? App.transcription.resumeRecording() : undefined
    }
    Shortcut {
        objectName: "saveShortcut"
        sequence: "Ctrl+S"
        enabled: App.transcription.canSave
        onActivated: App.transcription.saveTranscript()
    }
    Shortcut {
        objectName: "searchShortcut"
        sequence: "Ctrl+F"
        onActivated: transcriptCard.focusSearch()
    }
    Shortcut {
        objectName: "quitShortcut"
        sequence: "Ctrl+Q"
        onActivated: mainView.Window.window.close()
    }
}
