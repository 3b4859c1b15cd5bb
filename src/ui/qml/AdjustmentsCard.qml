import QtQuick

// Blur, tint and grain. The sliders write on every drag step; nothing is written on open.
Rectangle {
    id: card
    required property QtObject popover
    required property QtObject theme
    height: content.implicitHeight + 20
    radius: 12
    color: card.theme.material
    border.width: 0.5
    border.color: card.theme.separator

    component SectionHeader: Row {
        property string symbol
        property color symbolColor
        property string title
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 8
        Item {
            width: 16; height: 14
            Symbol { anchors.centerIn: parent; name: symbol; size: 11; tint: symbolColor }
        }
        Text { text: title; font.pixelSize: 12; font.weight: Font.Medium; color: card.theme.primary }
    }

    Column {
        id: content
        x: 10; y: 10
        width: card.width - 20
        spacing: 8

        Column {
            width: parent.width
            spacing: 4
            SectionHeader { symbol: "drop-fill"; symbolColor: "#0a84ff"; title: "Blur" }
            Row {
                spacing: 8
                Item { width: 16; height: 1 }
                TintSlider {
                    objectName: "blurSlider"
                    width: content.width - 24
                    from: 0; to: 100
                    value: card.popover.blurRadius
                    onMoved: card.popover.setBlurRadius(value)
                }
            }
        }
        Divider { width: parent.width; leadingPadding: 28 }
        Column {
            width: parent.width
            spacing: 6
            SectionHeader { symbol: "paintpalette-fill"; symbolColor: "#ff375f"; title: "Tint" }
            SwatchRow {
                objectName: "swatchRow"
                anchors.horizontalCenter: parent.horizontalCenter
                popover: card.popover
            }
            Row {
                spacing: 8
                Item { width: 16; height: 1 }
                TintSlider {
                    objectName: "tintSlider"
                    width: content.width - 24
                    from: 0; to: 0.6
                    value: card.popover.tintOpacity
                    accent: Qt.rgba(card.popover.tintColor.r, card.popover.tintColor.g, card.popover.tintColor.b, 0.8)
                    Behavior on accent { ColorAnimation { duration: 300; easing.type: Easing.InOutQuad } }
                    onMoved: card.popover.setTintOpacity(value)
                }
            }
        }
        Divider { width: parent.width; leadingPadding: 28 }
        Column {
            width: parent.width
            spacing: 4
            SectionHeader { symbol: "water-waves"; symbolColor: "#64d2ff"; title: "Grain" }
            Row {
                spacing: 8
                Item { width: 16; height: 1 }
                Item {
                    width: content.width - 24
                    height: grainSlider.height
                    Row {  // decorative ticks, dot 0 at the leading end, dot 10 at the trailing end
                        x: 4
                        width: parent.width - 8
                        anchors.verticalCenter: parent.verticalCenter
                        Repeater {
                            model: 11
                            Item {
                                width: index < 10 ? (parent.width - 3) / 10 : 3
                                height: 3
                                Rectangle { width: 3; height: 3; radius: 1.5; color: Qt.rgba(0.92, 0.92, 0.96, 0.18) }
                            }
                        }
                    }
                    TintSlider {
                        id: grainSlider
                        objectName: "grainSlider"
                        width: parent.width
                        from: 0; to: 0.5
                        value: card.popover.grainIntensity
                        onMoved: card.popover.setGrainIntensity(value)
                    }
                }
            }
        }
    }
}
