import QtQuick

Rectangle {
    property real leadingPadding: 0
    height: 1
    color: "transparent"
    Rectangle {
        x: parent.leadingPadding
        width: parent.width - parent.leadingPadding
        height: 0.5
        anchors.verticalCenter: parent.verticalCenter
        color: Qt.rgba(1, 1, 1, 0.15)
    }
}
