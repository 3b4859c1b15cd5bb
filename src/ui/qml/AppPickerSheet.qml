import QtQuick
import QtQuick.Controls.Basic

// The application picker, presented over the panel. Picking a row excludes that application and
// closes the sheet; "Done" closes it without a change. The search field has the focus when the
// sheet opens; Return in it picks the first match, Down moves into the list (Up/Down, Return).
Rectangle {
    id: sheet
    required property QtObject picker
    required property QtObject theme
    width: 300
    height: 400
    color: sheet.theme.raised
    border.width: 0.5
    border.color: sheet.theme.panelBorder
    radius: 10

    Component.onCompleted: search.forceActiveFocus()

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
                normalColor: sheet.theme.primary
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
            onAccepted: if (list.count > 0) sheet.picker.pick(sheet.picker.apps[0].bundleID)
            Keys.onDownPressed: if (list.count > 0) { list.currentIndex = 0; list.forceActiveFocus(Qt.TabFocusReason) }
            background: Rectangle {
                radius: 5
                color: Qt.rgba(1, 1, 1, 0.07)
                border.width: search.activeFocus ? 1.5 : 0.5
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
            activeFocusOnTab: true
            keyNavigationEnabled: true
            currentIndex: -1
            onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0
            Keys.onUpPressed: (event) => {
                if (currentIndex <= 0) search.forceActiveFocus(Qt.TabFocusReason);
                else event.accepted = false;
            }
            Keys.onReturnPressed: if (currentIndex >= 0) sheet.picker.pick(sheet.picker.apps[currentIndex].bundleID)
            Keys.onEnterPressed: if (currentIndex >= 0) sheet.picker.pick(sheet.picker.apps[currentIndex].bundleID)
            Keys.onSpacePressed: if (currentIndex >= 0) sheet.picker.pick(sheet.picker.apps[currentIndex].bundleID)
            delegate: Item {
                id: row
                objectName: "pick_" + modelData.bundleID
                width: list.width
                height: 30
                readonly property bool current: list.activeFocus && ListView.isCurrentItem
                Rectangle {
                    anchors.fill: parent
                    anchors.leftMargin: 8; anchors.rightMargin: 8
                    radius: 5
                    color: row.current ? sheet.theme.accent
                                       : rowArea.containsMouse ? Qt.rgba(1, 1, 1, 0.08) : "transparent"
                }
                Image {
                    id: icon
                    visible: modelData.icon.length > 0
                    x: 16
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20; height: 20
                    sourceSize: Qt.size(40, 40)
                    source: modelData.icon
                }
                Text {
                    objectName: "pickLabel"
                    anchors.left: icon.visible ? icon.right : parent.left
                    anchors.leftMargin: icon.visible ? 8 : 16
                    anchors.right: parent.right
                    anchors.rightMargin: 16
                    anchors.verticalCenter: parent.verticalCenter
                    elide: Text.ElideRight
                    text: modelData.label
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    color: row.current ? "white" : sheet.theme.primary
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
