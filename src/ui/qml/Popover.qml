import QtQuick

// The panel's content: the permission screen until both permissions are granted, the main screen
// after that, and the application picker over either while it is open. Escape closes the picker,
// then the panel.
Rectangle {
    id: root
    required property QtObject popover
    property Theme theme: Theme {}

    width: 300
    implicitHeight: Math.max(screenLoader.item ? screenLoader.item.implicitHeight : 0,
                             root.popover.showingAppPicker ? 400 : 0)
    height: implicitHeight
    color: root.theme.background
    border.width: 0.5
    border.color: root.theme.panelBorder

    focus: true
    Keys.onEscapePressed: {
        if (root.popover.showingAppPicker) root.popover.closeAppPicker();
        else root.popover.closePanel();
    }

    Loader {
        id: screenLoader
        width: 300
        // Under the picker nothing takes the focus: Tab stays in the sheet.
        enabled: !root.popover.showingAppPicker
        sourceComponent: root.popover.showsMainScreen ? mainScreen : permissionScreen
    }
    Component {
        id: mainScreen
        MainScreen { objectName: "mainScreen"; popover: root.popover; theme: root.theme }
    }
    Component {
        id: permissionScreen
        PermissionScreen { objectName: "permissionScreen"; popover: root.popover; theme: root.theme }
    }

    Rectangle {  // dims the panel under the sheet
        anchors.fill: parent
        visible: root.popover.showingAppPicker
        color: Qt.rgba(0, 0, 0, 0.35)
        MouseArea { anchors.fill: parent }
    }
    Loader {
        objectName: "pickerLoader"
        active: root.popover.showingAppPicker
        anchors.horizontalCenter: parent.horizontalCenter
        y: 0
        // The keys go back to the panel when the sheet closes.
        onActiveChanged: if (!active) root.forceActiveFocus()
        sourceComponent: AppPickerSheet { objectName: "appPicker"; picker: root.popover.picker; theme: root.theme }
    }
}
