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
                            // Clipped to a rounded rectangle of radius 3.
                            source: visible ? modelData.icon + "?radius=0.19" : ""
                        }
                        Text {
                            id: nameText
                            anchors.verticalCenter: parent.verticalCenter
                            width: Math.min(implicitWidth, card.width - 60)
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            text: modelData.name
                            textFormat: Text.PlainText
                            font.pixelSize: 12
                            color: card.theme.primary
                        }
                    }
                    PanelButton {
                        objectName: "remove_" + modelData.bundleID
                        anchors.right: parent.right
                        anchors.rightMargin: 10
                        anchors.verticalCenter: parent.verticalCenter
                        width: 15; height: 15
                        ringRadius: 7.5
                        onClicked: card.popover.removeExclusion(modelData.bundleID)
                        contentItem: Item {
                            Symbol { anchors.centerIn: parent; name: "xmark-circle-fill"; size: 13; tint: card.theme.secondary }
                        }
                    }
                }
                Divider { visible: index < card.popover.furtherExclusions.length - 1; width: parent.width; leadingPadding: 34 }
            }
        }
    }
}
