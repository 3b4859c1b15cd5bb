import QtQuick
import QtQuick.Controls.Basic

// The main screen, shown once both permissions are granted.
Column {
    id: screen
    required property QtObject popover
    required property QtObject theme
    spacing: 10
    padding: 14
    width: 300

    readonly property real innerWidth: width - 2 * padding

    HeaderRow { width: screen.innerWidth; popover: screen.popover; theme: screen.theme }

    // Shake hint row with the sensitivity menu.
    Rectangle {
        width: screen.innerWidth
        height: hintRow.implicitHeight + 14
        radius: 8
        color: screen.theme.quinaryFill
        Row {
            id: hintRow
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            Symbol { anchors.verticalCenter: parent.verticalCenter; name: "play-fill"; size: 10; tint: screen.theme.secondary }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                // The menu keeps its ideal size; the hint gives way on wide fonts.
                width: Math.min(implicitWidth, screen.innerWidth - 20 - 18 - 8 - sensitivityButton.width)
                elide: Text.ElideRight
                text: "Shake cursor to toggle Dunelo on/off"
                font.pixelSize: 11
                color: screen.theme.secondary
            }
        }
        Rectangle {
            id: sensitivityButton
            objectName: "sensitivityButton"
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            width: sensitivityText.implicitWidth + 12
            height: sensitivityText.implicitHeight + 6
            radius: 5
            color: screen.theme.quaternaryFill
            Text {
                id: sensitivityText
                objectName: "sensitivityLabel"
                anchors.centerIn: parent
                text: screen.popover.sensitivityLabel
                font.pixelSize: 10; font.weight: Font.DemiBold
                color: screen.theme.secondary
            }
            MouseArea { anchors.fill: parent; onClicked: sensitivityMenu.popup(sensitivityButton, 0, sensitivityButton.height) }
            Menu {
                id: sensitivityMenu
                objectName: "sensitivityMenu"
                Repeater {
                    model: screen.popover.sensitivityOptions
                    MenuItem {
                        objectName: "sensitivity_" + modelData
                        text: modelData
                        font.pixelSize: 12
                        onTriggered: screen.popover.selectSensitivity(index)
                    }
                }
            }
        }
    }

    // Mode card: a click switches between the two modes.
    Rectangle {
        id: modeCard
        objectName: "modeCard"
        width: screen.innerWidth
        height: modeRow.implicitHeight + 18
        radius: 10
        color: screen.theme.controlBackground
        border.width: 0.5
        border.color: screen.theme.separator
        Row {
            id: modeRow
            x: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 8; height: 8; radius: 4
                color: "white"
                opacity: screen.popover.isDeep ? 0.9 : 0.5
                Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
            }
            Text {
                id: modeName
                objectName: "modeName"
                anchors.verticalCenter: parent.verticalCenter
                text: screen.popover.modeName
                font.pixelSize: 13; font.weight: Font.Medium
                color: screen.theme.primary
                onTextChanged: modeSwap.restart()
                NumberAnimation { id: modeSwap; target: modeName; property: "opacity"; from: 0.2; to: 1; duration: 200; easing.type: Easing.InOutQuad }
            }
        }
        Row {
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "Mode"
                font.pixelSize: 12
                color: screen.theme.secondary
            }
            Column {
                anchors.verticalCenter: parent.verticalCenter
                spacing: 3
                Rectangle {
                    width: 5; height: 5; radius: 2.5; color: "white"
                    opacity: screen.popover.isDeep ? 0.9 : 0.2
                    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
                }
                Rectangle {
                    width: 5; height: 5; radius: 2.5; color: "white"
                    opacity: screen.popover.isDeep ? 0.2 : 0.9
                    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
                }
            }
        }
        MouseArea { anchors.fill: parent; onClicked: screen.popover.toggleMode() }
    }

    AdjustmentsCard { width: screen.innerWidth; popover: screen.popover; theme: screen.theme }

    // Option pills.
    Row {
        spacing: 8
        OptionPill {
            objectName: "monoPill"
            width: (screen.innerWidth - 8) / 2
            theme: screen.theme
            on: screen.popover.isGrayscale
            symbol: on ? "circle-lefthalf-filled" : "circle"
            title: "Mono"
            onClicked: screen.popover.toggleGrayscale()
        }
        OptionPill {
            objectName: "autoHidePill"
            width: (screen.innerWidth - 8) / 2
            theme: screen.theme
            on: screen.popover.autoHide
            symbol: "dock-rectangle"
            title: "Auto-hide"
            onClicked: screen.popover.toggleAutoHide()
        }
    }

    FurtherExclusions {
        width: screen.innerWidth
        popover: screen.popover
        theme: screen.theme
        visible: screen.popover.furtherExclusions.length > 0
    }

    // Footer.
    Column {
        width: screen.innerWidth
        spacing: 8
        Item {
            width: parent.width
            height: Math.max(loginBox.implicitHeight, quit.implicitHeight)
            CheckBox {
                id: loginBox
                objectName: "launchAtLogin"
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                padding: 0
                checked: screen.popover.launchAtLogin
                onToggled: screen.popover.setLaunchAtLogin(checked)
                indicator: Rectangle {
                    implicitWidth: 13; implicitHeight: 13
                    y: (loginBox.height - height) / 2
                    radius: 3
                    color: loginBox.checked ? screen.theme.accent : Qt.rgba(1, 1, 1, 0.1)
                    border.width: 0.5
                    border.color: Qt.rgba(1, 1, 1, 0.3)
                    Symbol { anchors.centerIn: parent; visible: loginBox.checked; name: "checkmark"; size: 9; tint: "white" }
                }
                contentItem: Text {
                    leftPadding: loginBox.indicator.width + 6
                    text: "Launch at Login"
                    font.pixelSize: 11
                    color: screen.theme.secondary
                    verticalAlignment: Text.AlignVCenter
                }
            }
            TextButton {
                id: quit
                objectName: "quitButton"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: "Quit Dunelo"
                font.pixelSize: 11
                normalColor: screen.theme.secondary
                onClicked: screen.popover.quit()
            }
        }
        Item {
            visible: screen.popover.hasCheckForUpdates
            width: parent.width
            height: updates.implicitHeight
            TextButton {
                id: updates
                objectName: "checkForUpdates"
                text: "Check for Updates"
                font.pixelSize: 11
                normalColor: screen.theme.secondary
                onClicked: screen.popover.checkForUpdates()
            }
        }
    }
}
