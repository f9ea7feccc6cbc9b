#!/usr/bin/python3
"""A scripted accessible application on the session's accessibility bus.

It registers with the registry as toolkits do and shows one active frame holding one focused
single-line text field with a selection, through the AT-SPI Accessible, Application,
Collection, Component and Text interfaces, nothing more. Its MODE chooses which answers are
incomplete, counted per selection; most modes are what Firefox was seen to answer right after
a selection:

    complete              every answer whole
    zero-extents-first    the first GetRangeExtents answers (0, 0, 0, 0), later ones the box
    empty-text-first      the first GetText of the selected range answers "", later ones the
                          text, while GetSelection already gives the range
    both-first            the first GetRangeExtents and the first GetText of the selected
                          range are both incomplete, as above
    zero-extents-always   every GetRangeExtents answers (0, 0, 0, 0)
    errors-after-first    the first GetRangeExtents answers (0, 0, 0, 0), and every Text call
                          after it fails, as from an application that stopped answering
    silent-after-first    the same, but the Text calls after it are never answered, as from an
                          application that froze
    no-range-first        the first GetSelection answers (-1, -1) while GetNSelections counts
                          the selection, later ones the range
    no-range-always       every GetSelection answers (-1, -1)
    no-range-thrice       the first three GetSelection answer (-1, -1), later ones the range
    qt-zero-always        every GetRangeExtents answers (0, 0, 0, 0), from an application
                          that names its toolkit Qt 5.15.8, as Qt Quick's text does
    unbuilt-first         a page not built yet: the first two reads of the selection
                          (GetNSelections) count none, the caret at 0 and the field placed
                          at (-1, -1) until the next read, as Firefox right after it starts
    unbuilt-always        a page that is never built: every read counts no selection, gives
                          the caret at 0 and places the field at (-1, -1)
    web-view              no Collection: beside a tool bar of 20 buttons, a focused web view
                          holds a pane holding the focused field, as a QtWebEngine browser
    focused-bar           the same tree with the tool bar focused and the web view not, as
                          kwrite marks its status bar

    fake_atspi_app.py MODE [START END]

Offsets count characters (code points), as GTK's do. It prints "ready" and its bus name
once the registry has taken it, then reads commands, one a line, on standard input and answers
each on standard output:

    select START END   a new selection, whose answers are counted afresh -> "selected"
    served             -> "served N": incomplete or failed answers since the last selection
    asked              -> "asked N": GetRangeExtents calls since the last selection
    beside             -> "beside N": calls on the tool bar's buttons since the last selection

It ends when standard input closes, on SIGTERM or SIGINT.
"""

import signal
import sys

import gi

gi.require_version("Gio", "2.0")
gi.require_version("GLib", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

FIELD_TEXT = "Read this: Grüße 😀 from the fake field."
# The field's box on screen, and the box of each character: 7 pixels wide, one line.
FIELD_BOX = (200, 150, 300, 30)
CHARACTER_WIDTH = 7
LINE_TOP, LINE_HEIGHT = 156, 17
TEXT_LEFT = 204

# What each mode answers incompletely, counted from its selection.
FAULTS = {
    "complete": set(),
    "zero-extents-first": {"first box"},
    "empty-text-first": {"first text"},
    "both-first": {"first box", "first text"},
    "zero-extents-always": {"every box"},
    "errors-after-first": {"first box", "Text fails after the first box"},
    "silent-after-first": {"first box", "Text silent after the first box"},
    "no-range-first": {"first range"},
    "no-range-always": {"every range"},
    "no-range-thrice": {"first three ranges"},
    "qt-zero-always": {"every box", "Qt"},
    "unbuilt-first": {"first two reads unbuilt"},
    "unbuilt-always": {"first two reads unbuilt", "never built"},
    "web-view": {"web view"},
    "focused-bar": {"web view", "focused bar"},
}
MODES = tuple(FAULTS)

ROOT = "/org/a11y/atspi/accessible/root"
FRAME = "/org/a11y/atspi/accessible/frame"
FIELD = "/org/a11y/atspi/accessible/field"
NULL = "/org/a11y/atspi/null"
TOOL_BAR = "/org/a11y/atspi/accessible/toolbar"
VIEW = "/org/a11y/atspi/accessible/view"
PANE = "/org/a11y/atspi/accessible/pane"
BUTTONS = [f"/org/a11y/atspi/accessible/button{n}" for n in range(20)]

ROLE_APPLICATION, ROLE_FRAME, ROLE_ENTRY = 75, 23, 79
ROLE_PUSH_BUTTON, ROLE_TOOL_BAR, ROLE_FILLER, ROLE_DOCUMENT_WEB = 42, 62, 37, 95
STATE_ACTIVE, STATE_EDITABLE, STATE_ENABLED, STATE_FOCUSABLE, STATE_FOCUSED = 1, 7, 8, 11, 12
STATE_SENSITIVE, STATE_SHOWING, STATE_SINGLE_LINE, STATE_VISIBLE = 24, 25, 26, 30

INTROSPECTION = """
<node>
  <interface name="org.a11y.atspi.Accessible">
    <method name="GetChildren"><arg direction="out" type="a(so)"/></method>
    <method name="GetChildAtIndex">
      <arg direction="in" type="i"/><arg direction="out" type="(so)"/>
    </method>
    <method name="GetIndexInParent"><arg direction="out" type="i"/></method>
    <method name="GetState"><arg direction="out" type="au"/></method>
    <method name="GetRole"><arg direction="out" type="u"/></method>
    <method name="GetRoleName"><arg direction="out" type="s"/></method>
    <method name="GetInterfaces"><arg direction="out" type="as"/></method>
    <method name="GetAttributes"><arg direction="out" type="a{ss}"/></method>
    <method name="GetApplication"><arg direction="out" type="(so)"/></method>
    <property name="Name" type="s" access="read"/>
    <property name="Description" type="s" access="read"/>
    <property name="Parent" type="(so)" access="read"/>
    <property name="ChildCount" type="i" access="read"/>
  </interface>
  <interface name="org.a11y.atspi.Application">
    <property name="ToolkitName" type="s" access="read"/>
    <property name="Version" type="s" access="read"/>
    <property name="AtspiVersion" type="s" access="read"/>
    <property name="Id" type="i" access="readwrite"/>
  </interface>
  <interface name="org.a11y.atspi.Collection">
    <method name="GetMatches">
      <arg direction="in" type="(aiia{ss}iaiiasib)"/><arg direction="in" type="u"/>
      <arg direction="in" type="i"/><arg direction="in" type="b"/>
      <arg direction="out" type="a(so)"/>
    </method>
  </interface>
  <interface name="org.a11y.atspi.Component">
    <method name="GetExtents">
      <arg direction="in" type="u"/><arg direction="out" type="(iiii)"/>
    </method>
    <method name="GetPosition">
      <arg direction="in" type="u"/><arg direction="out" type="i"/><arg direction="out" type="i"/>
    </method>
    <method name="GetSize"><arg direction="out" type="i"/><arg direction="out" type="i"/></method>
  </interface>
  <interface name="org.a11y.atspi.Text">
    <method name="GetNSelections"><arg direction="out" type="i"/></method>
    <method name="GetSelection">
      <arg direction="in" type="i"/><arg direction="out" type="i"/><arg direction="out" type="i"/>
    </method>
    <method name="GetText">
      <arg direction="in" type="i"/><arg direction="in" type="i"/><arg direction="out" type="s"/>
    </method>
    <method name="GetRangeExtents">
      <arg direction="in" type="i"/><arg direction="in" type="i"/><arg direction="in" type="u"/>
      <arg direction="out" type="i"/><arg direction="out" type="i"/>
      <arg direction="out" type="i"/><arg direction="out" type="i"/>
    </method>
    <method name="GetCharacterExtents">
      <arg direction="in" type="i"/><arg direction="in" type="u"/>
      <arg direction="out" type="i"/><arg direction="out" type="i"/>
      <arg direction="out" type="i"/><arg direction="out" type="i"/>
    </method>
    <property name="CharacterCount" type="i" access="read"/>
    <property name="CaretOffset" type="i" access="read"/>
  </interface>
</node>
"""


def state_words(*states):
    bits = 0
    for state in states:
        bits |= 1 << state
    return [bits & 0xFFFFFFFF, bits >> 32]


def range_box(start, end):
    """The field's one-line box of characters [start, end), in screen coordinates."""
    return (TEXT_LEFT + CHARACTER_WIDTH * start, LINE_TOP, CHARACTER_WIDTH * (end - start),
            LINE_HEIGHT)


class Refused(Exception):
    """A call the application answers with an error."""


class Unanswered(Exception):
    """A call the application never answers."""


class FakeApplication:
    """The three objects and the answers of one mode."""

    def __init__(self, bus, mode, start, end):
        self.bus = bus
        self.faults = FAULTS[mode]
        self.unanswered = []
        self.name = bus.get_unique_name()
        self.registry = ("org.a11y.atspi.Registry", ROOT)
        self.select(start, end)
        self.objects = {
            ROOT: {"role": ROLE_APPLICATION, "name": "partial answers", "parent": self.registry,
                   "children": [FRAME], "states": state_words(),
                   "interfaces": ["org.a11y.atspi.Accessible", "org.a11y.atspi.Application"]},
            FRAME: {"role": ROLE_FRAME, "name": "Partial answers", "parent": (self.name, ROOT),
                    "children": [FIELD],
                    "states": state_words(STATE_ACTIVE, STATE_ENABLED, STATE_SENSITIVE,
                                          STATE_SHOWING, STATE_VISIBLE),
                    "interfaces": ["org.a11y.atspi.Accessible", "org.a11y.atspi.Collection",
                                   "org.a11y.atspi.Component"]},
            FIELD: {"role": ROLE_ENTRY, "name": "Field", "parent": (self.name, FRAME),
                    "children": [],
                    "states": state_words(STATE_EDITABLE, STATE_ENABLED, STATE_FOCUSABLE,
                                          STATE_FOCUSED, STATE_SENSITIVE, STATE_SHOWING,
                                          STATE_SINGLE_LINE, STATE_VISIBLE),
                    "interfaces": ["org.a11y.atspi.Accessible", "org.a11y.atspi.Component",
                                   "org.a11y.atspi.Text"]},
        }
        if "web view" in self.faults:
            self.add_web_view()

    def add_web_view(self):
        """The frame without Collection, holding a tool bar and the web view around the field."""
        showing = state_words(STATE_ENABLED, STATE_SHOWING, STATE_VISIBLE)
        focused = state_words(STATE_ENABLED, STATE_FOCUSABLE, STATE_FOCUSED, STATE_SHOWING,
                              STATE_VISIBLE)
        bar_focused = "focused bar" in self.faults
        plain = ["org.a11y.atspi.Accessible"]
        frame = self.objects[FRAME]
        frame["interfaces"] = [i for i in frame["interfaces"] if not i.endswith("Collection")]
        frame["children"] = [TOOL_BAR, VIEW]
        self.objects[TOOL_BAR] = {"role": ROLE_TOOL_BAR, "name": "", "parent": (self.name, FRAME),
                                  "children": BUTTONS, "interfaces": plain,
                                  "states": focused if bar_focused else showing}
        for button in BUTTONS:
            self.objects[button] = {"role": ROLE_PUSH_BUTTON, "name": "", "children": [],
                                    "parent": (self.name, TOOL_BAR), "states": showing,
                                    "interfaces": plain}
        self.objects[VIEW] = {"role": ROLE_DOCUMENT_WEB, "name": "", "parent": (self.name, FRAME),
                              "children": [PANE], "interfaces": plain,
                              "states": showing if bar_focused else focused}
        self.objects[PANE] = {"role": ROLE_FILLER, "name": "", "parent": (self.name, VIEW),
                              "children": [FIELD], "states": showing, "interfaces": plain}
        self.objects[FIELD]["parent"] = (self.name, PANE)

    def select(self, start, end):
        self.selection = (start, end)
        self.extents_asked = 0
        self.range_asked = 0
        self.selected_text_asked = 0
        self.served = 0
        self.reads = 0
        self.beside = 0
        self.built = "first two reads unbuilt" not in self.faults

    # --- answers ------------------------------------------------------------------------------

    def extents(self, start, end):
        self.extents_asked += 1
        first = self.extents_asked == 1
        if "every box" in self.faults or (first and "first box" in self.faults):
            self.served += 1
            return (0, 0, 0, 0)
        return range_box(start, end)

    def range(self, number):
        if number != 0:
            return (-1, -1)
        self.range_asked += 1
        missing = 3 if "first three ranges" in self.faults else int("first range" in self.faults)
        if "every range" in self.faults or self.range_asked <= missing:
            self.served += 1
            return (-1, -1)
        return self.selection

    def text(self, start, end):
        length = len(FIELD_TEXT)
        start = max(0, min(start, length))
        end = length if end < 0 else max(start, min(end, length))
        if (start, end) == self.selection:
            self.selected_text_asked += 1
            if self.selected_text_asked == 1 and "first text" in self.faults:
                self.served += 1
                return ""
        return FIELD_TEXT[start:end]

    def accessible(self, path, method, args):
        facts = self.objects[path]
        if method == "GetChildren":
            return "(a(so))", ([(self.name, child) for child in facts["children"]],)
        if method == "GetChildAtIndex":
            children = facts["children"]
            index = args[0]
            child = children[index] if 0 <= index < len(children) else None
            return "((so))", ((self.name, child) if child else ("", NULL),)
        if method == "GetIndexInParent":
            return "(i)", (0,)
        if method == "GetState":
            return "(au)", (facts["states"],)
        if method == "GetRole":
            return "(u)", (facts["role"],)
        if method == "GetRoleName":
            return "(s)", ({ROLE_APPLICATION: "application", ROLE_FRAME: "frame",
                            ROLE_ENTRY: "entry"}.get(facts["role"], "filler"),)
        if method == "GetInterfaces":
            return "(as)", (facts["interfaces"],)
        if method == "GetAttributes":
            return "(a{ss})", ({},)
        if method == "GetApplication":
            return "((so))", ((self.name, ROOT),)
        return None

    def answer(self, path, interface, method, args):
        """(reply type, values) of a method call, or None for an unknown one."""
        short = interface.rsplit(".", 1)[-1]
        if path in BUTTONS:
            self.beside += 1
        if path not in self.objects or interface not in self.objects[path]["interfaces"]:
            return None
        if short == "Accessible":
            return self.accessible(path, method, args)
        if short == "Collection" and method == "GetMatches":
            # Only the field is focused; it lies below the frame.
            return "(a(so))", ([(self.name, FIELD)] if path != FIELD else [],)
        if short == "Component":
            x, y, width, height = FIELD_BOX if path == FIELD else (180, 100, 400, 200)
            if path == FIELD and not self.built:
                x, y, width, height = (-1, -1, 0, 0)
            return component_reply(method, (x, y, width, height))
        if short == "Text":
            if self.extents_asked > 0 and "Text fails after the first box" in self.faults:
                self.served += 1
                raise Refused()
            if self.extents_asked > 0 and "Text silent after the first box" in self.faults:
                self.served += 1
                raise Unanswered()
            if method == "GetNSelections":
                self.reads += 1
                if not self.built and self.reads > 2 and "never built" not in self.faults:
                    self.built = True
                if not self.built:
                    self.served += 1
                    return "(i)", (0,)
                return "(i)", (1 if self.selection[0] != self.selection[1] else 0,)
            if method == "GetSelection":
                return "(ii)", self.range(args[0])
            if method == "GetText":
                return "(s)", (self.text(args[0], args[1]),)
            if method == "GetRangeExtents":
                return "(iiii)", self.extents(args[0], args[1])
        return None

    def property(self, path, interface, name):
        facts = self.objects.get(path, {})
        values = {
            "Name": GLib.Variant("s", facts.get("name", "")),
            "Description": GLib.Variant("s", ""),
            "Parent": GLib.Variant("(so)", facts.get("parent", ("", NULL))),
            "ChildCount": GLib.Variant("i", len(facts.get("children", []))),
            "ToolkitName": GLib.Variant("s", "Qt" if "Qt" in self.faults else "scripted"),
            "Version": GLib.Variant("s", "5.15.8" if "Qt" in self.faults else "1.0"),
            "AtspiVersion": GLib.Variant("s", "2.1"),
            "Id": GLib.Variant("i", 0),
            "CharacterCount": GLib.Variant("i", len(FIELD_TEXT)),
            "CaretOffset": GLib.Variant("i", self.selection[1] if self.built else 0),
        }
        return values.get(name)

    # --- D-Bus --------------------------------------------------------------------------------

    def on_call(self, _bus, _sender, path, interface, method, parameters, invocation):
        try:
            answered = self.answer(path, interface, method, parameters.unpack())
        except Refused:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", "not answering")
            return
        except Unanswered:
            self.unanswered.append(invocation)  # kept, so that no reply is ever sent
            return
        except (IndexError, KeyError, TypeError, ValueError) as error:
            print(f"fake: {interface}.{method} on {path} failed: {error}", file=sys.stderr)
            answered = None
        if answered is None:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod",
                                         f"{interface}.{method} is not scripted here")
            return
        reply_type, values = answered
        invocation.return_value(GLib.Variant(reply_type, values))

    def on_get_property(self, _bus, _sender, path, interface, name):
        return self.property(path, interface, name)

    def export(self, node):
        for path, facts in self.objects.items():
            for interface in facts["interfaces"]:
                self.bus.register_object(path, node.lookup_interface(interface), self.on_call,
                                         self.on_get_property, None)

    def embed(self):
        """Registers with the registry; once it answers, the registry lists this application."""
        self.bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                           GLib.Variant("((so))", ((self.name, ROOT),)),
                           GLib.VariantType("((so))"), Gio.DBusCallFlags.NONE, 30000, None)


def accessibility_bus():
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                              None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 30000, None)
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
             Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    return Gio.DBusConnection.new_for_address_sync(reply.unpack()[0], flags, None, None)


def serve_commands(app, loop):
    """Handles one command line of standard input; ends the loop when it closes."""
    def on_input(channel, condition):
        line = sys.stdin.readline() if condition & GLib.IO_IN else ""
        if not line:
            loop.quit()
            return False
        words = line.split()
        if len(words) == 3 and words[0] == "select":
            app.select(int(words[1]), int(words[2]))
            print("selected", flush=True)
        elif words == ["served"]:
            print(f"served {app.served}", flush=True)
        elif words == ["asked"]:
            print(f"asked {app.extents_asked}", flush=True)
        elif words == ["beside"]:
            print(f"beside {app.beside}", flush=True)
        else:
            print(f"fake: unknown command {line.strip()!r}", file=sys.stderr)
        return True
    channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
    GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)


def component_reply(method, box):
    """The reply of a Component call about an object whose screen box is (x, y, width,
    height); None for a method other than GetExtents, GetPosition and GetSize."""
    x, y, width, height = box
    if method == "GetExtents":
        return "((iiii))", ((x, y, width, height),)
    if method == "GetPosition":
        return "(ii)", (x, y)
    if method == "GetSize":
        return "(ii)", (width, height)
    return None


def run_until_ended(ready, serve=None):
    """Prints `ready`, then runs the main loop until SIGTERM or SIGINT, and until standard
    input ends or says anything; with `serve(loop)`, that takes standard input's commands."""
    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    if serve:
        serve(loop)
    else:
        channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
        GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                          lambda *_: (loop.quit(), False)[1])
    print(ready, flush=True)
    loop.run()


def main():
    if len(sys.argv) not in (2, 4) or sys.argv[1] not in MODES:
        sys.exit("usage: fake_atspi_app.py " + "|".join(MODES) + " [START END]")
    start, end = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) == 4 else (11, 23)
    try:
        bus = accessibility_bus()
        app = FakeApplication(bus, sys.argv[1], start, end)
        app.export(Gio.DBusNodeInfo.new_for_xml(INTROSPECTION))
        app.embed()
    except GLib.Error as error:
        sys.exit(f"fake: no accessibility bus to register on: {error.message}")
    run_until_ended(f"ready {app.name}", lambda loop: serve_commands(app, loop))


if __name__ == "__main__":
    main()
