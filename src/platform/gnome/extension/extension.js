// GNOME Shell 43 and 44 (legacy imports): hands the shell's libraries to the shared service.
'use strict';

const {Gio, GLib, GObject, Clutter, Meta, Shell, St} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const Me = imports.misc.extensionUtils.getCurrentExtension();

let generation = 0;

class DuneloExtension {
    enable() {
        // A fresh GType suffix per enable: GObject types cannot be registered twice.
        this._service = Me.imports.core.createService({
            Gio, GLib, GObject, Clutter, Meta, Shell, St, Main, PanelMenu,
            iconDir: Me.dir.get_child('icons').get_path(),
            typeSuffix: `L${++generation}`,
        });
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}

function init() {
    return new DuneloExtension();
}
