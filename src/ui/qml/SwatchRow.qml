import QtQuick
import QtQuick.Templates as T

// The tint swatches, one Tab stop like a group of radio buttons: Left and Right (Home and End)
// pick the neighbouring (first, last) swatch, Space and Return pick the one with the ring.
T.Control {
    id: row
    required property QtObject popover
    readonly property int count: row.popover.swatches.length
    readonly property int selected: {
        for (let i = 0; i < row.count; ++i)
            if (row.popover.swatches[i].selected) return i;
        return -1;
    }
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    focusPolicy: Qt.TabFocus
    padding: 0

    function pick(i) { row.popover.pickSwatch(Math.max(0, Math.min(row.count - 1, i))) }
    Keys.onLeftPressed: pick(selected < 0 ? count - 1 : selected - 1)
    Keys.onRightPressed: pick(selected < 0 ? 0 : selected + 1)
    Keys.onSpacePressed: pick(Math.max(0, selected))
    Keys.onReturnPressed: pick(Math.max(0, selected))
    Keys.onEnterPressed: pick(Math.max(0, selected))
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_Home) pick(0);
        else if (event.key === Qt.Key_End) pick(count - 1);
        else return;
        event.accepted = true;
    }

    // No swatch matches the stored colour: the ring goes around the whole row.
    FocusRing { shown: row.visualFocus && row.selected < 0; radius: 11 }

    contentItem: Row {
        spacing: 5
        Repeater {
            model: row.popover.swatches
            Item {
                objectName: "swatch_" + modelData.name
                width: 16; height: 16
                Rectangle {  // shadow
                    x: 0; y: 0.5; width: 16; height: 16; radius: 8
                    color: Qt.rgba(0, 0, 0, 0.15)
                }
                Rectangle {
                    width: 16; height: 16; radius: 8
                    color: modelData.color
                }
                Rectangle {
                    width: 16; height: 16; radius: 8
                    color: "transparent"
                    border.width: 2
                    border.color: "white"
                    opacity: modelData.selected ? 0.9 : 0
                    Behavior on opacity { NumberAnimation { duration: 300; easing.type: Easing.InOutQuad } }
                }
                FocusRing { objectName: "swatchRing"; shown: row.visualFocus && index === row.selected; radius: 11 }
                MouseArea { anchors.fill: parent; onClicked: row.popover.pickSwatch(index) }
            }
        }
    }
}
