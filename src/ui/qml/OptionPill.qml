import QtQuick

Rectangle {
    id: pill
    required property QtObject theme
    property bool on: false
    property string symbol
    property string title
    signal clicked()
    height: content.implicitHeight + 12
    radius: 8
    color: on ? Qt.rgba(pill.theme.accent.r, pill.theme.accent.g, pill.theme.accent.b, 0.15) : pill.theme.controlBackground
    border.width: 0.5
    border.color: on ? Qt.rgba(pill.theme.accent.r, pill.theme.accent.g, pill.theme.accent.b, 0.4) : Qt.rgba(1, 1, 1, 0.12)
    Row {
        id: content
        anchors.centerIn: parent
        spacing: 5
        Symbol {
            anchors.verticalCenter: parent.verticalCenter
            name: pill.symbol; size: 11
            tint: pill.on ? pill.theme.accent : pill.theme.secondary
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: pill.title
            font.pixelSize: 12; font.weight: Font.Medium
            color: pill.on ? pill.theme.accent : pill.theme.secondary
        }
    }
    MouseArea { anchors.fill: parent; onClicked: pill.clicked() }
}
