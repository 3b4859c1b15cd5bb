import QtQuick
import QtQuick.Controls.Basic

// The application picker, presented over the panel. Picking a row excludes that application and
// closes the sheet; "Done" closes it without a change.
Rectangle {
    id: sheet
    required property QtObject picker
    required property QtObject theme
    width: 300
    height: 400
    color: Qt.rgba(0.19, 0.19, 0.2, 1)
    border.width: 0.5
    border.color: sheet.theme.panelBorder
    radius: 10

    Column {
        anchors.fill: parent
        Item {
            width: parent.width
            height: 40
            Text {
                anchors.left: parent.left; anchors.leftMargin: 16
                anchors.verticalCenter: parent.verticalCenter
                text: "Add Excluded App"
                font.pixelSize: 13; font.bold: true
                color: sheet.theme.primary
            }
            TextButton {
                objectName: "pickerDone"
                anchors.right: parent.right; anchors.rightMargin: 16
                anchors.verticalCenter: parent.verticalCenter
                text: "Done"
                font.pixelSize: 13
                normalColor: sheet.theme.accent
                onClicked: sheet.picker.done()
            }
        }
        TextField {
            id: search
            objectName: "pickerSearch"
            x: 16
            width: parent.width - 32
            placeholderText: "Search..."
            placeholderTextColor: sheet.theme.secondary
            color: sheet.theme.primary
            font.pixelSize: 13
            text: sheet.picker.searchText
            onTextEdited: sheet.picker.searchText = text
            background: Rectangle {
                radius: 5
                color: Qt.rgba(1, 1, 1, 0.07)
                border.width: 0.5
                border.color: search.activeFocus ? sheet.theme.accent : Qt.rgba(1, 1, 1, 0.2)
            }
        }
        Item { width: 1; height: 8 }
        ListView {
            id: list
            objectName: "pickerList"
            width: parent.width
            height: sheet.height - 40 - search.height - 8 - 6
            clip: true
            model: sheet.picker.apps
            boundsBehavior: Flickable.StopAtBounds
            delegate: Item {
                objectName: "pick_" + modelData.bundleID
                width: list.width
                height: 30
                Rectangle {
                    anchors.fill: parent
                    anchors.leftMargin: 8; anchors.rightMargin: 8
                    radius: 5
                    color: rowArea.containsMouse ? Qt.rgba(1, 1, 1, 0.08) : "transparent"
                }
                Row {
                    x: 16
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8
                    Image {
                        visible: modelData.icon.length > 0
                        anchors.verticalCenter: parent.verticalCenter
                        width: 20; height: 20
                        sourceSize: Qt.size(40, 40)
                        source: modelData.icon
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: modelData.label
                        textFormat: Text.PlainText
                        font.pixelSize: 13
                        color: sheet.theme.primary
                    }
                }
                MouseArea {
                    id: rowArea
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: sheet.picker.pick(modelData.bundleID)
                }
            }
        }
    }
}
