import QtQuick

// A plain-style text button: the label is the whole button.
PanelButton {
    id: button
    property color normalColor
    ringRadius: 3
    contentItem: Text {
        text: button.text
        font: button.font
        color: button.pressed ? Qt.darker(button.normalColor, 1.4) : button.normalColor
    }
}
