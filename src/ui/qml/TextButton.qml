import QtQuick

// A plain-style text button: the label is the whole button.
Text {
    id: label
    signal clicked()
    property color normalColor
    color: area.pressed ? Qt.darker(normalColor, 1.4) : normalColor
    MouseArea {
        id: area
        anchors.fill: parent
        anchors.margins: -3
        onClicked: label.clicked()
    }
}
