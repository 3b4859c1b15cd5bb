import QtQuick

// The panel's colours: a dark translucent appearance with the platform's fill levels
// approximated by white at falling opacities.
QtObject {
    readonly property color background: Qt.rgba(0.16, 0.16, 0.17, 0.97)
    readonly property color panelBorder: Qt.rgba(1, 1, 1, 0.14)
    readonly property color primary: Qt.rgba(1, 1, 1, 0.92)
    readonly property color secondary: Qt.rgba(0.92, 0.92, 0.96, 0.6)
    readonly property color accent: "#0a84ff"
    readonly property color separator: Qt.rgba(1, 1, 1, 0.13)
    readonly property color material: Qt.rgba(1, 1, 1, 0.06)
    readonly property color controlBackground: Qt.rgba(0.12, 0.12, 0.12, 0.6)
    readonly property color quaternaryFill: Qt.rgba(1, 1, 1, 0.1)
    readonly property color quinaryFill: Qt.rgba(1, 1, 1, 0.05)
    // Menus and sheets sit over the panel: a shade lighter, opaque.
    readonly property color raised: Qt.rgba(0.21, 0.21, 0.22, 1)
    readonly property string fontFamily: Qt.application.font.family
}
