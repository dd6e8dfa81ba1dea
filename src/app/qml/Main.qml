import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1280
    height: 800
    minimumWidth: 900
    minimumHeight: 600
    visible: true
    title: "Vernalo"
    font.family: "Inter"

    // Closing mid-recording asks first and ends only after the recording is saved.
    onClosing: (close) => {
        if (app.isRecordingActive()) {
            close.accepted = false
            app.closeAfterRecording()
        }
    }

    // The root switch follows the auth state live: checking, signed out, signed in.
    Loader {
        id: rootLoader
        objectName: "rootLoader"
        anchors.fill: parent
        sourceComponent: auth.isChecking ? checkingView
                        : (auth.isAuthenticated ? mainView : loginView)
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
        target: desktop
        function onFrontRequested() {
            window.raise()
            window.requestActivate()
        }
    }
}
