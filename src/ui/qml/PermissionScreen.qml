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
    Divider { objectName: "permissionDivider"; width: screen.innerWidth; outset: screen.padding }

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
            help: screen.popover.screenRecordingHelp
            onGrant: screen.popover.grantScreenRecording()
        }
        PermissionRow {
            objectName: "accessibilityRow"
            width: parent.width
            theme: screen.theme
            title: "Accessibility"
            description: "To track which window is focused"
            granted: screen.popover.hasAccessibility
            help: screen.popover.accessibilityHelp
            onGrant: screen.popover.grantAccessibility()
        }
        Item {
            width: parent.width
            height: checkAgain.height
            PanelButton {
                id: checkAgain
                objectName: "checkAgain"
                anchors.horizontalCenter: parent.horizontalCenter
                leftPadding: 10; rightPadding: 10; topPadding: 4; bottomPadding: 4
                ringRadius: 5
                onClicked: screen.popover.checkAgain()
                background: Rectangle {
                    radius: 5
                    color: checkAgain.pressed ? Qt.rgba(1, 1, 1, 0.25) : Qt.rgba(1, 1, 1, 0.15)
                    border.width: 0.5
                    border.color: Qt.rgba(1, 1, 1, 0.2)
                }
                contentItem: Text { text: "Check Again"; font.pixelSize: 12; color: screen.theme.primary }
            }
        }
    }

    Divider { objectName: "permissionDivider"; width: screen.innerWidth; outset: screen.padding }
    TextButton {
        objectName: "quitButton"
        text: "Quit Dunelo"
        font.pixelSize: 11
        normalColor: screen.theme.secondary
        onClicked: screen.popover.quit()
    }
}
