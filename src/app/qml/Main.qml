import QtQuick
import Vernalo
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
