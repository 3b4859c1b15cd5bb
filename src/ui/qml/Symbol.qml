import QtQuick

// One of our symbol drawings, tinted.
Image {
    property string name
    property color tint: "white"
    property real size: 12
    width: size
    height: size
    sourceSize: Qt.size(Math.ceil(size * 2), Math.ceil(size * 2))
    smooth: true
    source: name.length > 0 ? "image://symbol/" + name + "?color=" + encodeURIComponent(tint.toString()) : ""
}
