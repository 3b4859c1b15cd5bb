import QtQuick

// The excluded applications the header pill does not show, each with its remove button.
Rectangle {
    id: card
    required property QtObject popover
    required property QtObject theme
    height: visible ? rows.implicitHeight : 0
    radius: 10
    color: card.theme.material
    border.width: 0.5
    border.color: card.theme.separator
    clip: true

    Column {
        id: rows
        width: parent.width
        Repeater {
            model: card.popover.furtherExclusions
            Column {
                width: rows.width
                Item {
                    objectName: "exclusion_" + modelData.bundleID
                    width: parent.width
                    height: Math.max(16, nameText.implicitHeight) + 12
                    Row {
                        x: 10
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 8
                        Image {
                            visible: modelData.icon.length > 0
                            anchors.verticalCenter: parent.verticalCenter
                            width: 16; height: 16
                            sourceSize: Qt.size(32, 32)
                            source: modelData.icon
                        }
                        Text {
                            id: nameText
                            anchors.verticalCenter: parent.verticalCenter
                            width: Math.min(implicitWidth, card.width - 60)
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            text: modelData.name
                            font.pixelSize: 12
                            color: card.theme.primary
                        }
                    }
                    Item {
                        objectName: "remove_" + modelData.bundleID
                        anchors.right: parent.right
                        anchors.rightMargin: 10
                        anchors.verticalCenter: parent.verticalCenter
                        width: 15; height: 15
                        Symbol { anchors.centerIn: parent; name: "xmark-circle-fill"; size: 13; tint: card.theme.secondary }
                        MouseArea { anchors.fill: parent; onClicked: card.popover.removeExclusion(modelData.bundleID) }
                    }
                }
                Divider { visible: index < card.popover.furtherExclusions.length - 1; width: parent.width; leadingPadding: 34 }
            }
        }
    }
}
