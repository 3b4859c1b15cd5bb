import QtQuick

// The keyboard focus ring: drawn around its parent while `shown` (the parent has the focus from
// the keyboard).
Rectangle {
    property bool shown: false
    anchors.fill: parent
    anchors.margins: -3
    z: 10
    visible: shown
    color: "transparent"
    border.width: 2
    border.color: Qt.rgba(0.25, 0.61, 1, 0.9)
}
