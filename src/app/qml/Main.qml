import QtQuick
import Vernalo
import QtQuick.Controls
import QtQuick.Layouts

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1280
    height: 800
    minimumWidth: 1024
    minimumHeight: 700
    visible: true
    title: "Vernalo"
    font.family: Theme.fontFamily
    font.pixelSize: 14
    color: Theme.window

    // Fusion draws every control from this palette, in the light or dark scheme of the desktop.
    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.input
    palette.alternateBase: Theme.card
    palette.text: Theme.text
    palette.button: Theme.card
    palette.buttonText: Theme.text
    palette.brightText: Theme.accentText
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    palette.placeholderText: Theme.mutedText
    palette.toolTipBase: Theme.card
    palette.toolTipText: Theme.text
    palette.light: Theme.light
    palette.midlight: Theme.midlight
    palette.mid: Theme.border
    palette.dark: Theme.shade
    palette.shadow: Theme.shade
    palette.link: Theme.accent

    Component.onCompleted: App.rememberGeometry(window)

    // Closing mid-recording (also Ctrl+Q) asks first and ends only after the recording is saved.
    onClosing: (close) => {
        if (App.isRecordingActive()) {
            close.accepted = false
            App.closeAfterRecording()
        }
    }

    // The root switch follows the App.auth state live: checking, signed out, signed in.
    Loader {
        id: rootLoader
        objectName: "rootLoader"
        anchors.fill: parent
        sourceComponent: App.auth.isChecking ? checkingView
                        : (App.auth.isAuthenticated ? mainView : loginView)
    }

    Component {
        id: checkingView
        Item {
            objectName: "checkingView"
            ColumnLayout {
                anchors.centerIn: parent
                spacing: 12
                BusyIndicator { Layout.alignment: Qt.AlignHCenter; running: true }
                Label {
                    objectName: "checkingLabel"
                    text: qsTr("Tarkistetaan kirjautumista...")
                    Layout.alignment: Qt.AlignHCenter
                }
            }
        }
    }
    Component { id: loginView; LoginView {} }
    Component { id: mainView; MainView {} }

    DialogHost {
        id: dialogHost
        anchors.fill: parent
    }

    Connections {
        target: App.desktop
        function onFrontRequested() {
            window.raise()
            window.requestActivate()
        }
    }
}
