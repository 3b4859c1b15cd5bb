import QtQuick
import QtQuick.Window

// One of our symbol drawings, tinted, drawn at the screen's own pixel size (a drawing scaled
// down from twice the size loses its fine lines on a 1x screen).
Image {
    property string name
    property color tint: "white"
    property real size: 12
    width: size
    height: size
    readonly property real scale_: Math.max(1, Screen.devicePixelRatio)
    sourceSize: Qt.size(Math.ceil(size * scale_), Math.ceil(size * scale_))
    smooth: true
    source: name.length > 0 ? "image://symbol/" + name + "?color=" + encodeURIComponent(tint.toString()) : ""
}
