import QtQuick
import QtQuick.Templates as T

// The shake sensitivity menu, drawn like the panel: its colours, 22-point rows, a check mark on
// the stored value, rounded corners and a hairline border. It opens below its button and stays
// inside the panel (and so inside the screen); arrows move, Return picks, Escape closes.
T.Menu {
    id: menu
    required property QtObject popover
    required property QtObject theme
    readonly property int selectedIndex: menu.popover.sensitivityOptions.indexOf(menu.popover.sensitivityLabel)

    margins: 6
    padding: 4
    implicitWidth: 120
    implicitHeight: contentItem.implicitHeight + topPadding + bottomPadding
    onAboutToShow: currentIndex = selectedIndex

    contentItem: ListView {
        implicitHeight: contentHeight
        model: menu.contentModel
        interactive: false
        currentIndex: menu.currentIndex
    }

    background: Rectangle {
        radius: 7
        color: menu.theme.raised
        border.width: 0.5
        border.color: Qt.rgba(1, 1, 1, 0.2)
    }

    Repeater {
        model: menu.popover.sensitivityOptions
        T.MenuItem {
            id: item
            objectName: "sensitivity_" + text
            implicitWidth: menu.availableWidth
            implicitHeight: 22
            leftPadding: 22; rightPadding: 10
            text: modelData
            font.pixelSize: 12
            onTriggered: menu.popover.selectSensitivity(index)
            contentItem: Text {
                text: item.text
                font: item.font
                color: item.highlighted ? "white" : menu.theme.primary
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: 4
                color: item.highlighted ? menu.theme.accent : "transparent"
            }
            Symbol {
                objectName: item.objectName + "_check"
                visible: index === menu.selectedIndex
                x: 7
                anchors.verticalCenter: parent.verticalCenter
                name: "checkmark"; size: 10
                tint: item.highlighted ? "white" : menu.theme.primary
            }
        }
    }
}
