import QtQuick

// The exclusion pill and the power button; on both screens.
Item {
    id: header
    required property QtObject popover
    required property QtObject theme
    implicitHeight: Math.max(pill.height, power.height)

    Rectangle {
        id: pill
        objectName: "exclusionPill"
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        width: pillRow.implicitWidth + 16
        height: pillRow.implicitHeight + 10
        radius: 8
        color: pillArea.pressed ? Qt.rgba(1, 1, 1, 0.14) : Qt.rgba(1, 1, 1, 0.08)
        Row {
            id: pillRow
            anchors.centerIn: parent
            spacing: 5
            Image {
                visible: header.popover.pillShowsApp && header.popover.pillIcon.length > 0
                anchors.verticalCenter: parent.verticalCenter
                width: 14; height: 14
                sourceSize: Qt.size(28, 28)
                source: header.popover.pillIcon
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
        MouseArea {
            id: pillArea
            anchors.fill: parent
            onClicked: header.popover.openAppPicker()
        }
    }

    Item {
        id: power
        objectName: "powerButton"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: 24; height: 24
        Symbol {
            id: powerSymbol
            anchors.centerIn: parent
            size: 22
            name: header.popover.isActive ? "power-circle-fill" : "power-circle"
            tint: header.popover.isActive ? header.theme.accent : header.theme.secondary
            // The replace transition: the new symbol grows in.
            onNameChanged: replace.restart()
            SequentialAnimation {
                id: replace
                NumberAnimation { target: powerSymbol; property: "scale"; from: 0.6; to: 1; duration: 200; easing.type: Easing.OutBack }
            }
        }
        MouseArea {
            anchors.fill: parent
            onClicked: header.popover.togglePower()
        }
    }
}
