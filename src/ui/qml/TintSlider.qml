import QtQuick
import QtQuick.Controls.Basic

// A continuous slider drawn with a thin track and a round knob. Tab reaches it (a ring around the
// knob); the arrow keys move it by a twentieth of its range.
Slider {
    id: slider
    property color accent: "#0a84ff"
    padding: 0
    implicitHeight: 18
    live: true
    stepSize: (to - from) / 20
    focusPolicy: Qt.StrongFocus
    background: Rectangle {
        x: slider.leftPadding
        y: slider.topPadding + slider.availableHeight / 2 - height / 2
        width: slider.availableWidth
        height: 4
        radius: 2
        color: Qt.rgba(1, 1, 1, 0.15)
        Rectangle {
            width: slider.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: slider.accent
        }
    }
    handle: Rectangle {
        x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
        y: slider.topPadding + slider.availableHeight / 2 - height / 2
        width: 14; height: 14; radius: 7
        color: slider.pressed ? "#e6e6e6" : "white"
        border.width: 0.5
        border.color: Qt.rgba(0, 0, 0, 0.25)
        FocusRing { shown: slider.visualFocus; radius: 10 }
    }
}
