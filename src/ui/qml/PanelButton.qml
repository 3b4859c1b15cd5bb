import QtQuick
import QtQuick.Templates as T

// A plain-style button that the keyboard reaches: Tab and Shift+Tab focus it (with a focus ring),
// Space, Return and Enter press it. A click does not show the ring.
T.AbstractButton {
    id: button
    property real ringRadius: 6
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    padding: 0
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()
    FocusRing { shown: button.visualFocus; radius: button.ringRadius + 3 }
}
