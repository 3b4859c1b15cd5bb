// GNOME Shell 45 and later (ES modules): hands the shell's libraries to the shared service.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import GObject from 'gi://GObject';
import Clutter from 'gi://Clutter';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {createService} from './core.js';

let generation = 0;

export default class DuneloExtension extends Extension {
    enable() {
        // A fresh GType suffix per enable: GObject types cannot be registered twice.
        this._service = createService({
            Gio, GLib, GObject, Clutter, Meta, Shell, St, Main, PanelMenu,
            iconDir: this.dir.get_child('icons').get_path(),
            typeSuffix: `E${++generation}`,
        });
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
