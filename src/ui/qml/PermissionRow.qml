import QtQuick

Item {
    id: row
    required property QtObject theme
    property string title
    property string description
    property bool granted
    signal grant()
    implicitHeight: Math.max(texts.implicitHeight, grantButton.height)

    Symbol {
        id: status
        objectName: row.objectName + "_status"
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        size: 15
        name: row.granted ? "checkmark-circle-fill" : "xmark-circle"
        tint: row.granted ? "#30d158" : "#ff453a"
    }
    Column {
        id: texts
        anchors.left: status.right
        anchors.leftMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2
        Text { text: row.title; font.pixelSize: 12; font.bold: true; color: row.theme.primary }
        Text { text: row.description; font.pixelSize: 11; color: row.theme.secondary }
    }
    Rectangle {
        id: grantButton
        objectName: row.objectName + "_grant"
        visible: !row.granted
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: grantText.implicitWidth + 16
        height: grantText.implicitHeight + 6
        radius: 5
        color: grantArea.pressed ? Qt.darker(row.theme.accent, 1.3) : row.theme.accent
        Text { id: grantText; anchors.centerIn: parent; text: "Grant"; font.pixelSize: 12; color: "white" }
        MouseArea { id: grantArea; anchors.fill: parent; onClicked: row.grant() }
    }
}
