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

    // Shake hint row with the sensitivity menu. The menu keeps its ideal size; the hint wraps.
    Rectangle {
        width: screen.innerWidth
        height: Math.max(hintText.implicitHeight, sensitivityButton.height) + 14
        radius: 8
        color: screen.theme.quinaryFill
        Symbol {
            id: hintSymbol
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            name: "play-fill"; size: 10; tint: screen.theme.secondary
        }
        Text {
            id: hintText
            objectName: "shakeHint"
            anchors.left: hintSymbol.right
            anchors.leftMargin: 8
            anchors.right: sensitivityButton.left
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            wrapMode: Text.WordWrap
            text: "Shake cursor to toggle Dunelo on/off"
            font.pixelSize: 11
            color: screen.theme.secondary
        }
        PanelButton {
            id: sensitivityButton
            objectName: "sensitivityButton"
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            leftPadding: 6; rightPadding: 6; topPadding: 3; bottomPadding: 3
            ringRadius: 5
            onClicked: sensitivityMenu.popup(sensitivityButton, sensitivityButton.width - sensitivityMenu.width, sensitivityButton.height + 4)
            background: Rectangle { radius: 5; color: screen.theme.quaternaryFill }
            contentItem: Text {
                objectName: "sensitivityLabel"
                text: screen.popover.sensitivityLabel
                font.pixelSize: 10; font.weight: Font.DemiBold
                color: screen.theme.secondary
            }
            SensitivityMenu {
                id: sensitivityMenu
                objectName: "sensitivityMenu"
                popover: screen.popover
                theme: screen.theme
                // The focus goes back to the button, with a ring if it had one.
                property int openedWith: Qt.OtherFocusReason
                onAboutToShow: openedWith = sensitivityButton.focusReason
                onClosed: sensitivityButton.forceActiveFocus(openedWith)
            }
        }
    }

    // Mode card: a click switches between the two modes.
    PanelButton {
        id: modeCard
        objectName: "modeCard"
        width: screen.innerWidth
        topPadding: 9; bottomPadding: 9; leftPadding: 12; rightPadding: 12
        ringRadius: 10
        onClicked: screen.popover.toggleMode()
        background: Rectangle {
            radius: 10
            color: screen.theme.controlBackground
            border.width: 0.5
            border.color: screen.theme.separator
        }
        contentItem: Item {
            implicitHeight: Math.max(modeRow.implicitHeight, modeIndicator.implicitHeight)
            Row {
                id: modeRow
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
                id: modeIndicator
                anchors.right: parent.right
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
        }
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
                focusPolicy: Qt.StrongFocus
                checked: screen.popover.launchAtLogin
                onToggled: screen.popover.setLaunchAtLogin(checked)
                Keys.onReturnPressed: screen.popover.setLaunchAtLogin(!checked)
                Keys.onEnterPressed: screen.popover.setLaunchAtLogin(!checked)
                indicator: Rectangle {
                    implicitWidth: 13; implicitHeight: 13
                    y: (loginBox.height - height) / 2
                    radius: 3
                    color: loginBox.checked ? screen.theme.accent : Qt.rgba(1, 1, 1, 0.1)
                    border.width: 0.5
                    border.color: Qt.rgba(1, 1, 1, 0.3)
                    Symbol { anchors.centerIn: parent; visible: loginBox.checked; name: "checkmark"; size: 9; tint: "white" }
                    FocusRing { shown: loginBox.visualFocus; radius: 5 }
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
