// Dunelo's side inside GNOME Shell: the overlays, and what Dunelo needs to know about the desktop,
// offered to the Dunelo process over the session bus as io.dunelo.Shell1 (bus name
// io.dunelo.Shell, object /io/dunelo/Shell).
//
// The same file runs under the legacy imports of GNOME Shell 43-44 and, with an export appended
// at build time, as an ES module under 45 and later: it touches no import machinery and gets the
// libraries it needs handed in.
//
// Everything here runs inside the compositor, so a fault would take the user's session down:
// every entry point (D-Bus call, signal handler, timer) goes through `guard`, which logs and
// swallows. Whatever a client sets up (overlays, hot keys, pointer reports, the top-bar button)
// belongs to its bus connection and is torn down when that connection goes away, so a Dunelo that
// crashes or is killed leaves nothing on screen.
'use strict';

var INTERFACE_VERSION = 1;

var INTERFACE_XML = `<node>
  <interface name="io.dunelo.Shell1">
    <property name="Version" type="u" access="read"/>
    <method name="GetState">
      <arg name="windows" type="a(tisssiiiiu)" direction="out"/>
      <arg name="focus" type="t" direction="out"/>
      <arg name="monitors" type="a(iiiid)" direction="out"/>
      <arg name="prefersDark" type="b" direction="out"/>
    </method>
    <signal name="WindowsChanged">
      <arg name="windows" type="a(tisssiiiiu)"/>
      <arg name="focus" type="t"/>
    </signal>
    <signal name="MonitorsChanged">
      <arg name="monitors" type="a(iiiid)"/>
      <arg name="prefersDark" type="b"/>
    </signal>
    <method name="CreateOverlay">
      <arg name="id" type="u" direction="in"/>
      <arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/>
      <arg name="width" type="i" direction="in"/><arg name="height" type="i" direction="in"/>
    </method>
    <method name="DestroyOverlay"><arg name="id" type="u" direction="in"/></method>
    <method name="SetOverlayFrame">
      <arg name="id" type="u" direction="in"/>
      <arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/>
      <arg name="width" type="i" direction="in"/><arg name="height" type="i" direction="in"/>
    </method>
    <method name="ShowOverlay"><arg name="id" type="u" direction="in"/></method>
    <method name="HideOverlay"><arg name="id" type="u" direction="in"/></method>
    <method name="OrderOverlayBelow">
      <arg name="id" type="u" direction="in"/><arg name="window" type="t" direction="in"/>
    </method>
    <method name="SetOverlayAlpha">
      <arg name="id" type="u" direction="in"/><arg name="alpha" type="d" direction="in"/>
      <arg name="durationMs" type="u" direction="in"/>
    </method>
    <method name="SetOverlayMaterial">
      <arg name="id" type="u" direction="in"/><arg name="sigma" type="d" direction="in"/>
      <arg name="veil" type="(dddd)" direction="in"/>
    </method>
    <method name="SetOverlayTint">
      <arg name="id" type="u" direction="in"/>
      <arg name="colors" type="a(dddd)" direction="in"/>
      <arg name="locations" type="ad" direction="in"/>
      <arg name="opacity" type="d" direction="in"/>
      <arg name="durationMs" type="u" direction="in"/>
    </method>
    <method name="SetOverlayGrayscale">
      <arg name="id" type="u" direction="in"/><arg name="opacity" type="d" direction="in"/>
    </method>
    <method name="SetOverlayGrain">
      <arg name="id" type="u" direction="in"/><arg name="opacity" type="d" direction="in"/>
    </method>
    <method name="GrabAccelerator">
      <arg name="accelerator" type="s" direction="in"/>
      <arg name="action" type="u" direction="out"/>
    </method>
    <method name="UngrabAccelerator">
      <arg name="action" type="u" direction="in"/>
      <arg name="ungrabbed" type="b" direction="out"/>
    </method>
    <signal name="AcceleratorActivated"><arg name="action" type="u"/></signal>
    <method name="WatchPointer"><arg name="watch" type="b" direction="in"/></method>
    <signal name="PointerMoved">
      <arg name="dx" type="d"/><arg name="dy" type="d"/><arg name="buttons" type="u"/>
    </signal>
    <method name="SetIndicator">
      <arg name="visible" type="b" direction="in"/><arg name="active" type="b" direction="in"/>
    </method>
    <signal name="IndicatorActivated">
      <arg name="x" type="i"/><arg name="y" type="i"/>
      <arg name="width" type="i"/><arg name="height" type="i"/>
    </signal>
  </interface>
</node>`;

// Window flags in the window records.
var WINDOW_FULLSCREEN = 1;
var WINDOW_NORMAL = 2;      // an ordinary top-level window (not a dialog, menu, dock, ...)
var WINDOW_SKIP_TASKBAR = 4;
var WINDOW_DESKTOP = 8;     // the desktop itself (a file manager's desktop window)

var createService = function (env) {
    const {Gio, GLib, GObject, Clutter, Meta, Shell, St, Main, PanelMenu, iconDir} = env;
    const BUS_NAME = 'io.dunelo.Shell';
    const OBJECT_PATH = '/io/dunelo/Shell';
    const ERROR = 'io.dunelo.Shell.Error.Failed';
    const REPORT_INTERVAL_MS = 16;  // pointer reports: at most one a frame, none at rest

    function guard(what, fn) {
        return (...args) => {
            try {
                return fn(...args);
            } catch (e) {
                logError(e, `[Dunelo] ${what}`);
                return undefined;
            }
        };
    }
    const clamp01 = v => Math.min(1, Math.max(0, Number.isFinite(v) ? v : 0));
    // Whatever a client sends is kept within what the screen can show, so that no request can
    // make the compositor allocate without bound.
    const MAX_OVERLAYS = 16;
    const MAX_STOPS = 8;
    const MAX_SIGMA = 100;
    const MAX_DURATION_MS = 5000;
    // Fades follow the desktop's animation setting (GNOME turns animations off on software
    // rendering, for one).
    const duration = ms => (St.Settings.get().enable_animations
        ? Math.min(MAX_DURATION_MS, Math.max(0, ms)) : 0);
    const frameWithin = ([x, y, width, height]) => {
        const limit = Math.max(global.stage.width, global.stage.height, 1);
        const coord = v => Math.min(limit, Math.max(-limit, v));
        return [coord(x), coord(y), Math.min(limit, Math.max(1, width)),
            Math.min(limit, Math.max(1, height))];
    };
    const byte = v => Math.round(clamp01(v) * 255);
    const rgba = c => `rgba(${byte(c[0])}, ${byte(c[1])}, ${byte(c[2])}, ${clamp01(c[3]).toFixed(3)})`;
    // The ease-in-ease-out curve of every fade Dunelo asks for.
    const easeInOut = t => (t < 0.5 ? 2 * t * t : 1 - Math.pow(-2 * t + 2, 2) / 2);
    const lerp = (a, b, t) => a + (b - a) * t;

    // A no-op effect: Mutter does not cull what lies behind an actor that carries an effect, so
    // the windows above an overlay get one and the blur always sees fully painted pixels.
    const NoCullEffect = GObject.registerClass({GTypeName: `DuneloNoCull${env.typeSuffix}`},
        class extends Clutter.Effect {});

    // Film grain: per-pixel noise blended over what lies beneath with a doubled multiply
    // (2 x noise x backdrop), for which mid-grey is neutral, lighter noise brightens and darker
    // darkens, like an overlay blend in the darks and mid-tones.
    const GrainEffect = GObject.registerClass({GTypeName: `DuneloGrain${env.typeSuffix}`},
        class extends Shell.GLSLEffect {
            vfunc_build_pipeline() {
                guard('grain shader', () => this._addSnippet())();
            }

            _addSnippet() {
                this.add_glsl_snippet(Shell.SnippetHook.FRAGMENT,
                    'uniform float strength;\n' +
                    'float duneloHash(vec2 p, float k) {\n' +
                    '  return fract(sin(dot(p, vec2(12.9898 + k, 78.233 - k))) * 43758.5453);\n' +
                    '}\n',
                    'vec2 p = floor(gl_FragCoord.xy);\n' +
                    'vec3 n = 0.375 + 0.25 * vec3(duneloHash(p, 0.0), duneloHash(p, 1.7),\n' +
                    '                             duneloHash(p, 3.1));\n' +
                    'float a = duneloHash(p, 4.3) * strength;\n' +
                    'cogl_color_out = vec4(mix(vec3(0.5), n, a), 0.5);\n',
                    false);
            }

            vfunc_paint_target(node, paintContext) {
                try {
                    const pipeline = this.get_pipeline();
                    if (pipeline && pipeline !== this._blendPipeline) {
                        this._blendPipeline = pipeline;
                        pipeline.set_blend('RGBA = ADD(SRC_COLOR*(DST_COLOR[RGBA]), ' +
                            'DST_COLOR*(SRC_COLOR[RGBA]))');
                    }
                } catch (e) {
                    logError(e, '[Dunelo] grain blend');
                }
                super.vfunc_paint_target(node, paintContext);
            }

            setStrength(strength) {
                const location = this.get_uniform_location('strength');
                if (location >= 0)
                    this.set_uniform_float(location, 1, [strength]);
                this.queue_repaint();
            }
        });

    function setBlurStrength(effect, sigma) {
        // GNOME 46 renamed the blur's sigma to a radius of twice its size.
        const value = Math.max(0, Math.round(sigma));
        if ('sigma' in effect)
            effect.sigma = value;
        else
            effect.radius = value * 2;
    }

    function windowActorById(id) {
        return global.get_window_actors().find(a => a.meta_window?.get_id() === id) ?? null;
    }

    // One overlay: a full-monitor, click-through actor in the window group. Its blur effect
    // paints the blurred backdrop; on top of it, in this order, the material's veil, the tint
    // bands, the grain and the sharp copy of the backdrop (the clones of what lies below) whose
    // opacity, 1 - alpha, mixes the sharp scene back in, as a translucent window would show it.
    class Overlay {
        constructor(service, frame) {
            this._service = service;
            this.alpha = 1;
            this.shown = false;
            this.target = null;        // window actor the overlay stays below; null: on top
            this.grayscale = 0;
            this._tint = {colors: [], locations: [], opacity: 0};
            this._tintTimeline = null;

            this.actor = new St.Widget({name: 'dunelo-overlay', reactive: false, visible: false});
            this._blur = new Shell.BlurEffect({mode: Shell.BlurMode.BACKGROUND});
            this.actor.add_effect_with_name('dunelo-blur', this._blur);
            this._veil = new St.Widget({reactive: false});
            this._tintBox = new St.Widget({reactive: false, opacity: 0});
            this._tintGrey = new Clutter.DesaturateEffect({factor: 1});
            this._tintGrey.enabled = false;
            this._tintBox.add_effect(this._tintGrey);
            this._grain = new St.Widget({reactive: false, visible: false,
                style: 'background-color: rgba(128, 128, 128, 1);'});
            this._grainEffect = new GrainEffect();
            this._grain.add_effect(this._grainEffect);
            this._sharp = new Clutter.Actor({reactive: false, clip_to_allocation: true});
            this._sharp.set_offscreen_redirect(Clutter.OffscreenRedirect.AUTOMATIC_FOR_OPACITY);
            this._sharp.opacity = 0;
            this._sharp.connect('notify::opacity', guard('fade', () => service.updateGrey()));
            this._clones = [];
            for (const child of [this._veil, this._tintBox, this._grain, this._sharp])
                this.actor.add_child(child);
            this.setMaterial(0, [0, 0, 0, 0]);
            this.setFrame(frame);
            global.window_group.add_child(this.actor);
        }

        destroy() {
            this._tintTimeline?.stop();
            this._tintTimeline = null;
            this._sharp.remove_all_transitions();
            this.actor.destroy();
        }

        setFrame(frame) {
            const [x, y, width, height] = frameWithin(frame);
            this.actor.set_position(x, y);
            this.actor.set_size(Math.max(1, width), Math.max(1, height));
            for (const child of [this._veil, this._tintBox, this._grain, this._sharp])
                child.set_size(Math.max(1, width), Math.max(1, height));
            this._layoutTint();
            this.rebuildSharpCopy();
        }

        show() {
            this.shown = true;
            this.target = null;
            this.actor.show();
            global.window_group.set_child_above_sibling(this.actor, null);
        }

        hide() {
            this.shown = false;
            this.actor.hide();
            this.rebuildSharpCopy();
        }

        orderBelow(windowId) {
            const target = windowActorById(windowId);
            if (!target)
                return;  // gone already: the stacking stays as it was
            this.target = target;
            this.restack();
        }

        // Puts the overlay back where it belongs after Mutter re-sorted the window group.
        restack() {
            if (!this.shown)
                return;
            if (this.target && this.target.get_parent() !== global.window_group)
                this.target = null;
            if (this.target)
                global.window_group.set_child_below_sibling(this.actor, this.target);
            else
                global.window_group.set_child_above_sibling(this.actor, null);
        }

        // A window about to go away: the overlay keeps its place below the next window up.
        forget(actor) {
            if (this.target !== actor)
                return;
            let next = actor.get_next_sibling();
            while (next && !(next instanceof Meta.WindowActor))
                next = next.get_next_sibling();
            this.target = next;
        }

        setAlpha(alpha, ms) {
            const durationMs = duration(ms);
            this.alpha = clamp01(alpha);
            const sharpOpacity = Math.round((1 - this.alpha) * 255);
            this._sharp.remove_all_transitions();
            this.actor.opacity = 255;
            const done = guard('alpha', () => {
                // Fully transparent: nothing to paint (and no blur to compute).
                if (this.alpha === 0 && !this._sharp.get_transition('opacity'))
                    this.actor.opacity = 0;
                this.rebuildSharpCopy();
            });
            if (durationMs > 0 && this.actor.mapped) {
                this._sharp.ease({opacity: sharpOpacity, duration: durationMs,
                    mode: Clutter.AnimationMode.EASE_IN_OUT_QUAD, onComplete: done});
            } else {
                this._sharp.opacity = sharpOpacity;
                done();
            }
            // The sharp copy is needed from the first frame of a fade out.
            this.rebuildSharpCopy();
        }

        // The live alpha, also in the middle of a fade.
        currentAlpha() {
            if (this.actor.opacity === 0)
                return 0;
            return 1 - this._sharp.opacity / 255;
        }

        setMaterial(sigma, veil) {
            setBlurStrength(this._blur, Math.min(MAX_SIGMA, Number.isFinite(sigma) ? sigma : 0));
            this._veil.style = `background-color: ${rgba(veil)};`;
        }

        setTint(allColors, allLocations, opacity, ms) {
            const durationMs = duration(ms);
            const from = this._tint;
            const to = {colors: allColors.slice(0, MAX_STOPS), locations: allLocations.slice(0, MAX_STOPS),
                opacity: clamp01(opacity)};
            this._tintTimeline?.stop();
            this._tintTimeline = null;
            const sameStops = from.colors.length === to.colors.length;
            if (!(durationMs > 0) || !this.actor.mapped || !sameStops) {
                this._applyTint(to);
                return;
            }
            const timeline = new Clutter.Timeline({actor: this.actor, duration: durationMs});
            timeline.connect('new-frame', guard('tint frame', () => {
                const t = easeInOut(timeline.get_progress());
                this._applyTint({
                    colors: to.colors.map((c, i) => c.map((v, k) => lerp(from.colors[i][k], v, t))),
                    locations: to.locations,
                    opacity: lerp(from.opacity, to.opacity, t),
                });
            }));
            timeline.connect('stopped', guard('tint end', (_, finished) => {
                if (finished)
                    this._applyTint(to);
            }));
            this._tintTimeline = timeline;
            timeline.start();
        }

        _applyTint(tint) {
            const rebuild = tint.colors.length !== this._tint.colors.length ||
                tint.locations.some((l, i) => l !== this._tint.locations[i]);
            this._tint = tint;
            this._tintBox.opacity = byte(tint.opacity);
            if (rebuild)
                this._layoutTint();
            else
                this._styleTint();
        }

        // One band per pair of neighbouring stops; locations run from the bottom edge (0) to the
        // top (1), and each band is a vertical two-stop gradient.
        _layoutTint() {
            this._tintBox.destroy_all_children();
            const {colors, locations} = this._tint;
            const [, height] = this.actor.get_size();
            const width = this.actor.get_width();
            for (let i = 0; i + 1 < Math.min(colors.length, locations.length); i++) {
                const top = Math.round((1 - clamp01(locations[i + 1])) * height);
                const bottom = Math.round((1 - clamp01(locations[i])) * height);
                if (bottom <= top)
                    continue;
                const band = new St.Widget({reactive: false, x: 0, y: top, width,
                    height: bottom - top});
                band._stops = [i + 1, i];  // top colour, bottom colour
                this._tintBox.add_child(band);
            }
            this._styleTint();
        }

        _styleTint() {
            const {colors} = this._tint;
            for (const band of this._tintBox.get_children()) {
                const [upper, lower] = band._stops;
                band.style = 'background-gradient-direction: vertical; ' +
                    `background-gradient-start: ${rgba(colors[upper])}; ` +
                    `background-gradient-end: ${rgba(colors[lower])};`;
            }
        }

        setGrayscale(opacity) {
            this.grayscale = clamp01(opacity);
            this._tintGrey.factor = this.grayscale;
            this._tintGrey.enabled = this.grayscale > 0;
        }

        setGrain(opacity) {
            const strength = clamp01(opacity);
            this._grainEffect.setStrength(strength);
            this._grain.visible = strength > 0;
        }

        // The sharp copy: a clone of every visible window and background below the overlay, in
        // stacking order, shown while the overlay is translucent.
        rebuildSharpCopy() {
            const wanted = [];
            const fading = this._sharp.opacity > 0 || this._sharp.get_transition('opacity');
            if (this.shown && fading) {
                for (const child of global.window_group.get_children()) {
                    if (child === this.actor)
                        break;
                    if (!child.visible)
                        continue;
                    if (child instanceof Meta.WindowActor || child instanceof Meta.BackgroundGroup)
                        wanted.push(child);
                }
            }
            const same = wanted.length === this._clones.length &&
                wanted.every((source, i) => this._clones[i].source === source);
            if (same)
                return;
            this._sharp.destroy_all_children();
            this._clones = wanted.map(source => {
                const clone = new Clutter.Clone({source, reactive: false});
                const [x, y] = this.actor.get_position();
                for (const [coordinate, offset] of [[Clutter.BindCoordinate.X, -x],
                    [Clutter.BindCoordinate.Y, -y], [Clutter.BindCoordinate.SIZE, 0]])
                    clone.add_constraint(new Clutter.BindConstraint({source, coordinate, offset}));
                this._sharp.add_child(clone);
                return clone;
            });
        }
    }

    // What one client (one bus connection) has set up.
    class Client {
        constructor(service, name) {
            this.name = name;
            this.overlays = new Map();
            this.accelerators = new Set();
            this.watchesPointer = false;
            this.indicator = null;
            this._watch = Gio.bus_watch_name_on_connection(service.connection, name,
                Gio.BusNameWatcherFlags.NONE, null,
                guard('client vanished', () => service.dropClient(name)));
        }

        release(service) {
            Gio.bus_unwatch_name(this._watch);
            for (const overlay of this.overlays.values())
                overlay.destroy();
            this.overlays.clear();
            for (const action of this.accelerators)
                global.display.ungrab_accelerator(action);
            this.accelerators.clear();
            this.indicator?.destroy();
            this.indicator = null;
            service.updateOverlayEffects();
            service.updatePointerWatch();
        }
    }

    class Service {
        constructor() {
            this._clients = new Map();
            this._signals = [];
            this._windowSignals = new Map();
            this._statePending = 0;
            this._pointerTimer = 0;
            this._pointerAt = null;
            this._cursorSignal = 0;
            this._touched = new Set();  // window actors carrying one of our effects
            this._noClipRedraws = false;
        }

        get Version() {
            return INTERFACE_VERSION;
        }

        enable() {
            this.connection = Gio.DBus.session;
            this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
            this._dbus.export(this.connection, OBJECT_PATH);
            this._nameId = Gio.bus_own_name_on_connection(this.connection, BUS_NAME,
                Gio.BusNameOwnerFlags.REPLACE, null, null);
            this._interface = new Gio.Settings({schema_id: 'org.gnome.desktop.interface'});

            const on = (object, signal, what, fn) =>
                this._signals.push([object, object.connect(signal, guard(what, fn))]);
            on(global.display, 'notify::focus-window', 'focus', () => this._queueState());
            on(global.display, 'restacked', 'restack', () => this._restacked());
            on(global.display, 'window-created', 'window created', (_, w) => this._track(w));
            on(global.workspace_manager, 'active-workspace-changed', 'workspace',
                () => this._queueState());
            on(Shell.WindowTracker.get_default(), 'tracked-windows-changed', 'apps',
                () => this._queueState());
            on(Main.layoutManager, 'monitors-changed', 'monitors', () => this._emitMonitors());
            on(this._interface, 'changed::color-scheme', 'color scheme',
                () => this._emitMonitors());
            on(global.display, 'accelerator-activated', 'hot key',
                (_, action) => this._acceleratorActivated(action));
            for (const actor of global.get_window_actors())
                this._track(actor.meta_window);
        }

        disable() {
            for (const name of [...this._clients.keys()])
                this.dropClient(name);
            for (const [object, id] of this._signals)
                object.disconnect(id);
            this._signals = [];
            for (const [window, ids] of this._windowSignals)
                ids.forEach(id => window.disconnect(id));
            this._windowSignals.clear();
            for (const source of [this._statePending, this._pointerTimer])
                if (source)
                    GLib.source_remove(source);
            this._statePending = this._pointerTimer = 0;
            this._setClippedRedraws(true);
            this._dbus.unexport();
            Gio.bus_unown_name(this._nameId);
            this._interface = null;
        }

        // --- desktop state ---

        _track(window) {
            if (!window || this._windowSignals.has(window))
                return;
            const ids = ['position-changed', 'size-changed', 'notify::fullscreen',
                'notify::minimized', 'notify::wm-class', 'workspace-changed']
                .map(s => window.connect(s, guard('window', () => this._queueState())));
            ids.push(window.connect('unmanaging', guard('window gone', w => {
                const actor = w.get_compositor_private();
                for (const overlay of this._overlays())
                    overlay.forget(actor);
                this._touched.delete(actor);
            })));
            ids.push(window.connect('unmanaged', guard('window gone', w => {
                this._windowSignals.get(w)?.forEach(id => w.disconnect(id));
                this._windowSignals.delete(w);
                this._queueState();
            })));
            this._windowSignals.set(window, ids);
            this._queueState();
        }

        // Changes come in bursts (a move is a stream of them): one report per main-loop turn.
        _queueState() {
            if (this._statePending)
                return;
            this._statePending = GLib.idle_add(GLib.PRIORITY_DEFAULT, guard('state', () => {
                this._statePending = 0;
                const [windows, focus] = this._windowState();
                this._dbus.emit_signal('WindowsChanged',
                    new GLib.Variant('(a(tisssiiiiu)t)', [windows, focus]));
                for (const overlay of this._overlays())
                    overlay.rebuildSharpCopy();
                return GLib.SOURCE_REMOVE;
            }));
        }

        // Windows on the active workspace that are shown, front to back.
        _windowState() {
            const tracker = Shell.WindowTracker.get_default();
            const workspace = global.workspace_manager.get_active_workspace();
            const windows = [];
            for (const actor of global.get_window_actors().slice().reverse()) {
                const w = actor.meta_window;
                if (!w || w.minimized || w.is_override_redirect() ||
                    !w.located_on_workspace(workspace))
                    continue;
                const frame = w.get_frame_rect();
                const app = tracker.get_window_app(w);
                const type = w.get_window_type();
                const flags = (w.is_fullscreen() ? WINDOW_FULLSCREEN : 0) |
                    (type === Meta.WindowType.NORMAL ? WINDOW_NORMAL : 0) |
                    (w.is_skip_taskbar() ? WINDOW_SKIP_TASKBAR : 0) |
                    (type === Meta.WindowType.DESKTOP ? WINDOW_DESKTOP : 0);
                windows.push([w.get_id(), Math.max(0, w.get_pid()), app?.get_id() ?? '',
                    app?.get_name() ?? '', w.get_wm_class() ?? '', frame.x, frame.y,
                    frame.width, frame.height, flags]);
            }
            const focus = global.display.focus_window;
            return [windows, focus ? focus.get_id() : 0];
        }

        _monitorState() {
            const layout = Main.layoutManager;
            const monitors = layout.monitors.map(m => [m.x, m.y, m.width, m.height, 1.0]);
            const primary = layout.primaryIndex;
            if (primary > 0 && primary < monitors.length)
                monitors.unshift(...monitors.splice(primary, 1));
            const dark = this._interface.get_string('color-scheme') === 'prefer-dark';
            return [monitors, dark];
        }

        _emitMonitors() {
            this._dbus.emit_signal('MonitorsChanged',
                new GLib.Variant('(a(iiiid)b)', this._monitorState()));
        }

        GetStateAsync(params, invocation) {
            this._call(invocation, () => {
                const [windows, focus] = this._windowState();
                const [monitors, dark] = this._monitorState();
                return new GLib.Variant('(a(tisssiiiiu)ta(iiiid)b)',
                    [windows, focus, monitors, dark]);
            });
        }

        // --- clients ---

        _call(invocation, fn) {
            try {
                invocation.return_value(fn(invocation.get_sender()) ?? null);
            } catch (e) {
                logError(e, '[Dunelo] D-Bus call');
                invocation.return_dbus_error(ERROR, String(e));
            }
        }

        _client(sender) {
            let client = this._clients.get(sender);
            if (!client) {
                client = new Client(this, sender);
                this._clients.set(sender, client);
            }
            return client;
        }

        dropClient(name) {
            const client = this._clients.get(name);
            if (!client)
                return;
            this._clients.delete(name);
            client.release(this);
        }

        *_overlays() {
            for (const client of this._clients.values())
                yield* client.overlays.values();
        }

        _overlay(sender, id) {
            const overlay = this._clients.get(sender)?.overlays.get(id);
            if (!overlay)
                throw new Error(`no overlay ${id}`);
            return overlay;
        }

        // --- overlays ---

        CreateOverlayAsync([id, x, y, width, height], invocation) {
            this._call(invocation, sender => {
                const client = this._client(sender);
                client.overlays.get(id)?.destroy();
                client.overlays.delete(id);
                if (client.overlays.size >= MAX_OVERLAYS)
                    throw new Error(`at most ${MAX_OVERLAYS} overlays`);
                client.overlays.set(id, new Overlay(this, [x, y, width, height]));
            });
        }

        DestroyOverlayAsync([id], invocation) {
            this._call(invocation, sender => {
                const client = this._clients.get(sender);
                client?.overlays.get(id)?.destroy();
                client?.overlays.delete(id);
                this.updateOverlayEffects();
            });
        }

        SetOverlayFrameAsync([id, x, y, width, height], invocation) {
            this._call(invocation, s => this._overlay(s, id).setFrame([x, y, width, height]));
        }

        ShowOverlayAsync([id], invocation) {
            this._call(invocation, s => {
                this._overlay(s, id).show();
                this.updateOverlayEffects();
            });
        }

        HideOverlayAsync([id], invocation) {
            this._call(invocation, s => {
                this._overlay(s, id).hide();
                this.updateOverlayEffects();
            });
        }

        OrderOverlayBelowAsync([id, window], invocation) {
            this._call(invocation, s => {
                this._overlay(s, id).orderBelow(window);
                this.updateOverlayEffects();
            });
        }

        SetOverlayAlphaAsync([id, alpha, durationMs], invocation) {
            this._call(invocation, s => {
                this._overlay(s, id).setAlpha(alpha, durationMs);
                this.updateOverlayEffects();
            });
        }

        SetOverlayMaterialAsync([id, sigma, veil], invocation) {
            this._call(invocation, s => this._overlay(s, id).setMaterial(sigma, veil));
        }

        SetOverlayTintAsync([id, colors, locations, opacity, durationMs], invocation) {
            this._call(invocation, s =>
                this._overlay(s, id).setTint(colors, locations, opacity, durationMs));
        }

        SetOverlayGrayscaleAsync([id, opacity], invocation) {
            this._call(invocation, s => {
                this._overlay(s, id).setGrayscale(opacity);
                this.updateOverlayEffects();
            });
        }

        SetOverlayGrainAsync([id, opacity], invocation) {
            this._call(invocation, s => this._overlay(s, id).setGrain(opacity));
        }

        _restacked() {
            for (const overlay of this._overlays())
                overlay.restack();
            this.updateOverlayEffects();
            this._queueState();
        }

        // Keeps the effects on the windows in line with the shown overlays: windows above an
        // overlay are kept from culling what lies behind them, windows below are desaturated
        // while the overlay greys (each by the overlay's live alpha, so that the whole screen
        // loses as much colour as a grey layer inside a translucent overlay would take), and
        // every repaint is a full one, since a clipped one would blur pixels left over from the
        // previous frame into the new one.
        updateOverlayEffects() {
            const shown = [...this._overlays()].filter(o => o.shown);
            const lowest = shown.length ? shown.map(o => o.actor)
                .sort((a, b) => global.window_group.get_children().indexOf(a) -
                    global.window_group.get_children().indexOf(b))[0] : null;
            const grey = this._greyFactor();
            this._greyOn = grey > 0;
            this._setClippedRedraws(shown.length === 0);
            let below = lowest !== null;
            const present = new Set();
            for (const child of global.window_group.get_children()) {
                if (child === lowest)
                    below = false;
                const isWindow = child instanceof Meta.WindowActor;
                if (!isWindow && !(child instanceof Meta.BackgroundGroup))
                    continue;
                this._setEffect(child, 'dunelo-nocull',
                    lowest !== null && !below && isWindow, () => new NoCullEffect());
                const desaturate = this._setEffect(child, 'dunelo-grey', below && grey > 0,
                    () => new Clutter.DesaturateEffect());
                if (desaturate)
                    desaturate.factor = grey;
                present.add(child);
            }
            for (const actor of this._touched) {
                if (!present.has(actor))
                    this._touched.delete(actor);
            }
            for (const overlay of shown)
                overlay.rebuildSharpCopy();
        }

        _greyFactor() {
            let grey = 0;
            for (const overlay of this._overlays()) {
                if (overlay.shown)
                    grey = Math.max(grey, overlay.grayscale * overlay.currentAlpha());
            }
            return grey;
        }

        // During a fade only the strength of the desaturation changes.
        updateGrey() {
            const grey = this._greyFactor();
            if ((grey > 0) !== this._greyOn) {
                this.updateOverlayEffects();
                return;
            }
            for (const actor of this._touched)
                actor.get_effect('dunelo-grey')?.set_factor(grey);
        }

        _setEffect(actor, name, wanted, make) {
            let effect = actor.get_effect(name);
            if (wanted && !effect) {
                effect = make();
                actor.add_effect_with_name(name, effect);
                this._touched.add(actor);
            } else if (!wanted && effect) {
                actor.remove_effect(effect);
                effect = null;
            }
            return effect;
        }

        _setClippedRedraws(clipped) {
            if (clipped === !this._noClipRedraws)
                return;
            this._noClipRedraws = !clipped;
            const flag = Clutter.DrawDebugFlag.DISABLE_CLIPPED_REDRAWS;
            if (clipped)
                Meta.remove_clutter_debug_flags(0, flag, 0);
            else
                Meta.add_clutter_debug_flags(0, flag, 0);
        }

        // --- hot keys ---

        GrabAcceleratorAsync([accelerator], invocation) {
            this._call(invocation, sender => {
                const action = global.display.grab_accelerator(accelerator,
                    Meta.KeyBindingFlags.NONE);
                if (action !== Meta.KeyBindingAction.NONE) {
                    Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                        Shell.ActionMode.NORMAL | Shell.ActionMode.OVERVIEW);
                    this._client(sender).accelerators.add(action);
                }
                return new GLib.Variant('(u)', [action]);
            });
        }

        UngrabAcceleratorAsync([action], invocation) {
            this._call(invocation, sender => {
                const client = this._clients.get(sender);
                const owned = client?.accelerators.delete(action) ?? false;
                const done = owned && global.display.ungrab_accelerator(action);
                return new GLib.Variant('(b)', [done]);
            });
        }

        _acceleratorActivated(action) {
            for (const client of this._clients.values()) {
                if (client.accelerators.has(action)) {
                    this._dbus.emit_signal('AcceleratorActivated',
                        new GLib.Variant('(u)', [action]));
                    return;
                }
            }
        }

        // --- pointer ---

        WatchPointerAsync([watch], invocation) {
            this._call(invocation, sender => {
                this._client(sender).watchesPointer = watch;
                this.updatePointerWatch();
            });
        }

        // The cursor tracker says when the pointer moved; a report follows at most once a frame
        // with the movement since the last one. A resting pointer costs nothing.
        updatePointerWatch() {
            const wanted = [...this._clients.values()].some(c => c.watchesPointer);
            // GNOME 46 moved the cursor tracker to the backend.
            const tracker = global.backend?.get_cursor_tracker?.() ??
                Meta.CursorTracker.get_for_display(global.display);
            if (wanted && !this._cursorSignal) {
                this._pointerAt = global.get_pointer();
                this._cursorSignal = tracker.connect('position-invalidated',
                    guard('pointer', () => this._pointerMoved()));
            } else if (!wanted && this._cursorSignal) {
                tracker.disconnect(this._cursorSignal);
                this._cursorSignal = 0;
                if (this._pointerTimer)
                    GLib.source_remove(this._pointerTimer);
                this._pointerTimer = 0;
            }
        }

        _pointerMoved() {
            if (this._pointerTimer)
                return;
            this._pointerTimer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, REPORT_INTERVAL_MS,
                guard('pointer report', () => {
                    this._pointerTimer = 0;
                    const [x, y, mods] = global.get_pointer();
                    const [lastX, lastY] = this._pointerAt ?? [x, y];
                    this._pointerAt = [x, y];
                    const buttons = mods & (Clutter.ModifierType.BUTTON1_MASK |
                        Clutter.ModifierType.BUTTON2_MASK | Clutter.ModifierType.BUTTON3_MASK);
                    if (x !== lastX || y !== lastY) {
                        this._dbus.emit_signal('PointerMoved',
                            new GLib.Variant('(ddu)', [x - lastX, y - lastY, buttons]));
                    }
                    return GLib.SOURCE_REMOVE;
                }));
        }

        // --- the top-bar button, where the desktop has no tray ---

        SetIndicatorAsync([visible, active], invocation) {
            this._call(invocation, sender => {
                const client = this._client(sender);
                if (!visible) {
                    client.indicator?.destroy();
                    client.indicator = null;
                    return;
                }
                if (!client.indicator)
                    client.indicator = this._makeIndicator();
                client.indicator._icon.gicon = Gio.icon_new_for_string(
                    GLib.build_filenamev([iconDir, active ? 'dunelo-circle-fill-symbolic.svg'
                        : 'dunelo-circle-dashed-symbolic.svg']));
            });
        }

        _makeIndicator() {
            const button = new PanelMenu.Button(0.0, 'Dunelo', true);
            button._icon = new St.Icon({style_class: 'system-status-icon'});
            button.add_child(button._icon);
            button.connect('button-press-event', guard('indicator', () => {
                const [x, y] = button.get_transformed_position();
                const [width, height] = button.get_transformed_size();
                this._dbus.emit_signal('IndicatorActivated', new GLib.Variant('(iiii)',
                    [Math.round(x), Math.round(y), Math.round(width), Math.round(height)]));
                return Clutter.EVENT_STOP;
            }));
            this._indicators = (this._indicators ?? 0) + 1;
            Main.panel.addToStatusArea(`dunelo-${this._indicators}`, button);
            return button;
        }
    }

    return new Service();
};
