import QtQuick

// One permission: its state, what it is for and, while it is missing, a Grant button. Once Grant
// was clicked the row also says what the desktop lacks and what the user can do about it (a
// command to copy, where there is one).
Column {
    id: row
    required property QtObject theme
    property string title
    property string description
    property bool granted
    property var help: ({})  // {text, command} from the desktop; empty until Grant is clicked
    readonly property bool showsHelp: !row.granted && (row.help.text || "").length > 0
    signal grant()
    spacing: 8

    Item {
        width: row.width
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
            anchors.right: grantButton.visible ? grantButton.left : parent.right
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            Text { text: row.title; font.pixelSize: 12; font.bold: true; color: row.theme.primary }
            Text { text: row.description; font.pixelSize: 11; color: row.theme.secondary }
        }
        PanelButton {
            id: grantButton
            objectName: row.objectName + "_grant"
            visible: !row.granted
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            leftPadding: 8; rightPadding: 8; topPadding: 3; bottomPadding: 3
            ringRadius: 5
            onClicked: row.grant()
            background: Rectangle {
                radius: 5
                color: grantButton.pressed ? Qt.darker(row.theme.accent, 1.3) : row.theme.accent
            }
            contentItem: Text { text: "Grant"; font.pixelSize: 12; color: "white" }
        }
    }

    Column {
        objectName: row.objectName + "_help"
        visible: row.showsHelp
        x: 23
        width: row.width - x
        spacing: 6
        Text {
            objectName: row.objectName + "_helpText"
            width: parent.width
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            text: row.help.text || ""
            font.pixelSize: 11
            color: row.theme.primary
        }
        Rectangle {
            visible: (row.help.command || "").length > 0
            width: parent.width
            height: command.implicitHeight + 10
            radius: 5
            color: Qt.rgba(0, 0, 0, 0.3)
            border.width: 0.5
            border.color: row.theme.separator
            TextEdit {
                id: command
                objectName: row.objectName + "_command"
                x: 6
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - 12 - copy.width - 6
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.WrapAnywhere
                textFormat: TextEdit.PlainText
                text: row.help.command || ""
                font.family: "monospace"
                font.pixelSize: 11
                color: row.theme.primary
                selectionColor: row.theme.accent
            }
            TextButton {
                id: copy
                objectName: row.objectName + "_copy"
                anchors.right: parent.right
                anchors.rightMargin: 6
                anchors.top: parent.top
                anchors.topMargin: 5
                text: "Copy"
                font.pixelSize: 11
                normalColor: row.theme.accent
                onClicked: {
                    command.selectAll();
                    command.copy();
                    command.deselect();
                }
            }
        }
    }
}
