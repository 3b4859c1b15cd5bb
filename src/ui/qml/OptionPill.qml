import QtQuick

PanelButton {
    id: pill
    required property QtObject theme
    property bool on: false
    property string symbol
    property string title
    topPadding: 6; bottomPadding: 6
    ringRadius: 8
    background: Rectangle {
        radius: 8
        color: pill.on ? Qt.rgba(pill.theme.accent.r, pill.theme.accent.g, pill.theme.accent.b, 0.15) : pill.theme.controlBackground
        border.width: 0.5
        border.color: pill.on ? Qt.rgba(pill.theme.accent.r, pill.theme.accent.g, pill.theme.accent.b, 0.4) : Qt.rgba(1, 1, 1, 0.12)
    }
    contentItem: Item {
        implicitHeight: content.implicitHeight
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
    }
}
