import QtQuick

// Shown while a permission is missing: the header, the onboarding content and a quit button.
Column {
    id: screen
    required property QtObject popover
    required property QtObject theme
    width: 300
    padding: 16
    spacing: 12
    readonly property real innerWidth: width - 2 * padding

    HeaderRow { width: screen.innerWidth; popover: screen.popover; theme: screen.theme }
    Divider { x: 0; width: 300 }

    // Onboarding.
    Column {
        width: screen.innerWidth
        spacing: 12
        Text { text: "Permissions Required"; font.pixelSize: 13; font.bold: true; color: screen.theme.primary }
        Text { text: "Dunelo needs two permissions to work:"; font.pixelSize: 12; color: screen.theme.secondary }
        PermissionRow {
            objectName: "screenRecordingRow"
            width: parent.width
            theme: screen.theme
            title: "Screen Recording"
            description: "To identify window positions"
            granted: screen.popover.hasScreenRecording
            onGrant: screen.popover.grantScreenRecording()
        }
        PermissionRow {
            objectName: "accessibilityRow"
            width: parent.width
            theme: screen.theme
            title: "Accessibility"
            description: "To track which window is focused"
            granted: screen.popover.hasAccessibility
            onGrant: screen.popover.grantAccessibility()
        }
        TextEdit {
            objectName: "permissionHint"
            visible: text !== ""
            width: parent.width
            text: screen.popover.permissionHint
            wrapMode: Text.Wrap
            readOnly: true
            selectByMouse: true
            font.pixelSize: 11
            color: screen.theme.secondary
        }
        Item {
            width: parent.width
            height: checkAgain.height
            Rectangle {
                id: checkAgain
                objectName: "checkAgain"
                anchors.horizontalCenter: parent.horizontalCenter
                width: checkText.implicitWidth + 20
                height: checkText.implicitHeight + 8
                radius: 5
                color: checkArea.pressed ? Qt.rgba(1, 1, 1, 0.25) : Qt.rgba(1, 1, 1, 0.15)
                border.width: 0.5
                border.color: Qt.rgba(1, 1, 1, 0.2)
                Text { id: checkText; anchors.centerIn: parent; text: "Check Again"; font.pixelSize: 12; color: screen.theme.primary }
                MouseArea { id: checkArea; anchors.fill: parent; onClicked: screen.popover.checkAgain() }
            }
        }
    }

    Divider { width: 300; x: 0 }
    TextButton {
        objectName: "quitButton"
        text: "Quit Dunelo"
        font.pixelSize: 11
        normalColor: screen.theme.secondary
        onClicked: screen.popover.quit()
    }
}
