import QtQuick

// A hairline. `leadingPadding` starts it further in; `outset` runs it that far past both edges
// (through the padding of the screen it sits in, to the edges of the panel).
Item {
    property real leadingPadding: 0
    property real outset: 0
    height: 1
    Rectangle {
        x: parent.leadingPadding - parent.outset
        width: parent.width - parent.leadingPadding + 2 * parent.outset
        height: 0.5
        anchors.verticalCenter: parent.verticalCenter
        color: Qt.rgba(1, 1, 1, 0.15)
    }
}
