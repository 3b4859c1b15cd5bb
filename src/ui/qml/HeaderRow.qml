import QtQuick

// The exclusion pill and the power button; on both screens.
Item {
    id: header
    required property QtObject popover
    required property QtObject theme
    implicitHeight: Math.max(pill.height, power.height)

    PanelButton {
        id: pill
        objectName: "exclusionPill"
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        leftPadding: 8; rightPadding: 8; topPadding: 5; bottomPadding: 5
        ringRadius: 8
        onClicked: header.popover.openAppPicker()
        background: Rectangle {
            radius: 8
            color: pill.pressed ? Qt.rgba(1, 1, 1, 0.14) : Qt.rgba(1, 1, 1, 0.08)
        }
        contentItem: Row {
            spacing: 5
            Image {
                visible: header.popover.pillShowsApp && header.popover.pillIcon.length > 0
                anchors.verticalCenter: parent.verticalCenter
                width: 14; height: 14
                sourceSize: Qt.size(28, 28)
                // Application icons are clipped to a rounded rectangle of radius 3.
                source: visible ? header.popover.pillIcon + "?radius=0.21" : ""
            }
            Symbol {
                visible: !header.popover.pillShowsApp
                anchors.verticalCenter: parent.verticalCenter
                name: "app-badge-plus"; size: 12; tint: header.theme.secondary
            }
            Text {
                objectName: "exclusionPillText"
                anchors.verticalCenter: parent.verticalCenter
                text: header.popover.pillName
                textFormat: Text.PlainText
                width: Math.min(implicitWidth, 110)
                elide: Text.ElideRight
                font.pixelSize: 12; font.weight: Font.Medium
                color: header.popover.pillShowsApp ? header.theme.primary : header.theme.secondary
            }
            Symbol {
                anchors.verticalCenter: parent.verticalCenter
                name: "plus"; size: 9; tint: header.theme.secondary
            }
        }
    }

    PanelButton {
        id: power
        objectName: "powerButton"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: 24; height: 24
        ringRadius: 12
        onClicked: header.popover.togglePower()
        contentItem: Item {
            Symbol {
                id: powerSymbol
                anchors.centerIn: parent
                size: 22
                name: header.popover.isActive ? "power-circle-fill" : "power-circle"
                tint: header.popover.isActive ? header.theme.accent : header.theme.secondary
                // The replace transition: the new symbol grows in.
                onNameChanged: replace.restart()
                NumberAnimation { id: replace; target: powerSymbol; property: "scale"; from: 0.6; to: 1; duration: 200; easing.type: Easing.OutBack }
            }
        }
    }
}
