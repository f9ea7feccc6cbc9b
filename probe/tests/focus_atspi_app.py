#!/usr/bin/python3
"""A scripted accessible application whose focused text lies where a search below the first
focused object does not find it. It registers with the registry as toolkits do and shows one
active frame; its MODE chooses where the focused field with its selection lies:

    embedded   in a tree served by a second bus connection, which is not registered with the
               registry and is known by a well-known name: a socket in the frame (no state, no
               children listed, one child at index 0) embeds that connection's plug, as a web
               view embeds the page of its web process. Nothing in the frame's own connection
               is focused; a table with 2^31 - 1 children lies before the socket.
    beside     in a panel beside a focused table without Text, which says it has 2^31 - 1
               children, as a spreadsheet's cell editor beside its sheet.

In both, asking the table for its children, or searching below or past it for anything but
focused objects, is never answered (the application would be busy for minutes) and counted.

    focus_atspi_app.py MODE

Its field holds the text and the boxes of fake_atspi_app.py. It prints "ready" and its bus name
once the registry has taken it, then reads commands on standard input, as fake_atspi_app.py does
("select START END", "served": the calls that would have kept it busy). It ends when standard
input closes, on SIGTERM or SIGINT.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fake_atspi_app as fake  # noqa: E402
from fake_atspi_app import Gio, GLib  # noqa: E402

MODES = ("embedded", "beside")
ROOT, NULL = fake.ROOT, fake.NULL
PLUG_NAME = "org.example.ProbeTest.WebProcess-1"
ACCESSIBLE, COMPONENT, TEXT = ("org.a11y.atspi." + name for name in
                               ("Accessible", "Component", "Text"))
COLLECTION, APPLICATION = "org.a11y.atspi.Collection", "org.a11y.atspi.Application"
ROLE_APPLICATION, ROLE_FRAME, ROLE_FILLER, ROLE_PANEL = 75, 23, 36, 39
ROLE_TABLE, ROLE_DOCUMENT, ROLE_ENTRY, ROLE_PARAGRAPH = 55, 95, 79, 73
MATCH_ALL, MATCH_NONE = 1, 3
HUGE = 2**31 - 1

SHOWN = (fake.STATE_ENABLED, fake.STATE_SENSITIVE, fake.STATE_SHOWING, fake.STATE_VISIBLE)
FOCUSED = SHOWN + (fake.STATE_FOCUSABLE, fake.STATE_FOCUSED)
# Calc's sheet says it manages its descendants, as tables with transient cells do.
STATE_MANAGES_DESCENDANTS = 31


class Busy(Exception):
    """A call that would keep the application busy: never answered, counted."""


def node(role, name, parent, children=(), states=(), interfaces=(), count=None):
    return {"role": role, "name": name, "parent": parent, "children": list(children),
            "states": fake.state_words(*states), "count": count,
            "interfaces": [ACCESSIBLE, *interfaces]}


class Connection:
    """One bus connection's objects and its answers."""

    def __init__(self, bus, owner):
        self.bus, self.owner, self.name = bus, owner, bus.get_unique_name()
        self.objects = {}

    def ref(self, path):
        return (self.name, path)

    def under(self, path):
        """The objects below `path` in tree order, in this connection only; a table whose
        children would be listed keeps the application busy."""
        for child_name, child in self.objects[path]["children"]:
            if child_name != self.name or child not in self.objects:
                continue
            yield child
            if self.objects[child]["count"] == HUGE:
                yield None
                continue
            yield from self.under(child)

    def matches(self, path, rule, count):
        (bits, state_match, _attrs, _am, _roles, _rm, _ifaces, _im, _invert) = rule
        wanted = (bits[0] & 0xFFFFFFFF) | ((bits[1] & 0xFFFFFFFF) << 32)
        found = []
        if self.objects[path]["count"] == HUGE:
            raise Busy()
        for child in self.under(path):
            if child is None:
                # Calc answers a search for focused objects past its sheet at once, and does
                # not answer one for objects with no state within seconds.
                if state_match == MATCH_ALL and wanted == 1 << fake.STATE_FOCUSED:
                    continue
                raise Busy()
            words = self.objects[child]["states"]
            states = words[0] | (words[1] << 32)
            if ((state_match == MATCH_ALL and states & wanted == wanted) or
                    (state_match == MATCH_NONE and states & wanted == 0)):
                found.append(self.ref(child))
                if count and len(found) >= count:
                    break
        return found

    def accessible(self, path, method, args):
        facts = self.objects[path]
        listed = [] if facts.get("socket") else facts["children"]
        if method == "GetChildren":
            if facts["count"] == HUGE:
                raise Busy()
            return "(a(so))", (listed,)
        if method == "GetChildAtIndex":
            children = facts["children"]
            index = args[0]
            return "((so))", (children[index] if 0 <= index < len(children) else ("", NULL),)
        if method == "GetIndexInParent":
            return "(i)", (0,)
        if method == "GetState":
            return "(au)", (facts["states"],)
        if method == "GetRole":
            return "(u)", (facts["role"],)
        if method == "GetRoleName":
            return "(s)", ("",)
        if method == "GetInterfaces":
            return "(as)", (facts["interfaces"],)
        if method == "GetAttributes":
            return "(a{ss})", ({},)
        if method == "GetApplication":
            return "((so))", ((self.owner.main.name, ROOT),)
        return None

    def answer(self, path, interface, method, args):
        facts = self.objects.get(path)
        if facts is None or interface not in facts["interfaces"]:
            return None
        if interface == ACCESSIBLE:
            return self.accessible(path, method, args)
        if interface == COLLECTION and method == "GetMatches":
            return "(a(so))", (self.matches(path, args[0], args[2]),)
        if interface == COMPONENT:
            return self.owner.component(path, method)
        if interface == TEXT:
            return self.owner.text(method, args)
        return None

    def property(self, path, interface, name):
        facts = self.objects.get(path, {})
        children = facts.get("children", [])
        values = {
            "Name": GLib.Variant("s", facts.get("name", "")),
            "Description": GLib.Variant("s", ""),
            "Parent": GLib.Variant("(so)", facts.get("parent", ("", NULL))),
            "ChildCount": GLib.Variant("i", facts.get("count") or len(children)),
            "ToolkitName": GLib.Variant("s", "scripted"),
            "Version": GLib.Variant("s", "1.0"),
            "AtspiVersion": GLib.Variant("s", "2.1"),
            "Id": GLib.Variant("i", 0),
            "CharacterCount": GLib.Variant("i", len(fake.FIELD_TEXT)),
            "CaretOffset": GLib.Variant("i", self.owner.selection[1]),
        }
        return values.get(name)

    def on_call(self, _bus, _sender, path, interface, method, parameters, invocation):
        try:
            answered = self.answer(path, interface, method, parameters.unpack())
        except Busy:
            self.owner.served += 1
            self.owner.unanswered.append(invocation)
            return
        if answered is None:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod",
                                         f"{interface}.{method} is not scripted here")
            return
        reply_type, values = answered
        invocation.return_value(GLib.Variant(reply_type, values))

    def export(self, info):
        for path, facts in self.objects.items():
            for interface in facts["interfaces"]:
                self.bus.register_object(path, info.lookup_interface(interface), self.on_call,
                                         lambda _b, _s, p, i, n: self.property(p, i, n), None)


class FocusApplication:
    def __init__(self, mode, main_bus, plug_bus):
        self.selection = (11, 23)
        self.served = 0
        self.unanswered = []
        self.main = Connection(main_bus, self)
        self.field = None
        build = {"embedded": self.build_embedded, "beside": self.build_beside}[mode]
        self.plugged = Connection(plug_bus, self) if plug_bus else None
        build()

    def frame_and_root(self, frame_children):
        m = self.main
        m.objects[ROOT] = node(ROLE_APPLICATION, "focus search", ("org.a11y.atspi.Registry", ROOT),
                               [m.ref("/frame")], (), [APPLICATION])
        m.objects["/frame"] = node(ROLE_FRAME, "Focus search", m.ref(ROOT), frame_children,
                                   SHOWN + (fake.STATE_ACTIVE,), [COLLECTION, COMPONENT])

    def field_node(self, role, parent):
        return node(role, "", parent, (), FOCUSED + (fake.STATE_EDITABLE,),
                    [COMPONENT, TEXT, COLLECTION])

    def build_embedded(self):
        m, p = self.main, self.plugged
        self.frame_and_root([m.ref("/panel")])
        m.objects["/panel"] = node(ROLE_PANEL, "", m.ref("/frame"),
                                   [m.ref("/table"), m.ref("/socket")], SHOWN,
                                   [COLLECTION, COMPONENT])
        m.objects["/table"] = node(ROLE_TABLE, "", m.ref("/panel"), [],
                                   SHOWN + (STATE_MANAGES_DESCENDANTS,), [COLLECTION, COMPONENT],
                                   count=HUGE)
        m.objects["/socket"] = node(ROLE_FILLER, "", m.ref("/panel"), [(PLUG_NAME, "/plug")], (),
                                    [COLLECTION, COMPONENT])
        m.objects["/socket"]["socket"] = True
        p.objects["/plug"] = node(ROLE_FILLER, "", m.ref("/socket"), [p.ref("/view")], (),
                                  [COMPONENT])
        p.objects["/view"] = node(ROLE_FILLER, "", (PLUG_NAME, "/plug"), [p.ref("/document")],
                                  FOCUSED, [COLLECTION, COMPONENT])
        p.objects["/document"] = node(ROLE_DOCUMENT, "page", p.ref("/view"), [p.ref("/field")],
                                      FOCUSED, [COLLECTION, COMPONENT])
        p.objects["/field"] = self.field_node(ROLE_ENTRY, p.ref("/document"))
        self.field = "/field"

    def build_beside(self):
        m = self.main
        self.frame_and_root([m.ref("/document")])
        m.objects["/document"] = node(ROLE_DOCUMENT, "sheet", m.ref("/frame"),
                                      [m.ref("/table"), m.ref("/cell_panel")], SHOWN,
                                      [COLLECTION, COMPONENT])
        m.objects["/table"] = node(ROLE_TABLE, "Sheet1", m.ref("/document"), [],
                                   FOCUSED + (STATE_MANAGES_DESCENDANTS,),
                                   [COLLECTION, COMPONENT], count=HUGE)
        m.objects["/cell_panel"] = node(ROLE_PANEL, "Cell A1", m.ref("/document"),
                                        [m.ref("/paragraph")], SHOWN, [COLLECTION, COMPONENT])
        m.objects["/paragraph"] = self.field_node(ROLE_PARAGRAPH, m.ref("/cell_panel"))
        self.field = "/paragraph"

    def select(self, start, end):
        self.selection = (start, end)
        self.served = 0

    def component(self, path, method):
        box = fake.FIELD_BOX if path == self.field else (180, 100, 400, 200)
        return fake.component_reply(method, box)

    def text(self, method, args):
        start, end = self.selection
        if method == "GetNSelections":
            return "(i)", (1 if start != end else 0,)
        if method == "GetSelection":
            return "(ii)", (self.selection if args[0] == 0 else (-1, -1))
        if method == "GetText":
            length = len(fake.FIELD_TEXT)
            low = max(0, min(args[0], length))
            high = length if args[1] < 0 else max(low, min(args[1], length))
            return "(s)", (fake.FIELD_TEXT[low:high],)
        if method == "GetRangeExtents":
            return "(iiii)", fake.range_box(args[0], args[1])
        if method == "GetCharacterExtents":
            return "(iiii)", fake.range_box(args[0], args[0] + 1)
        return None


def second_connection():
    """Another connection to the accessibility bus, owning the plug's well-known name."""
    bus = fake.accessibility_bus()
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (PLUG_NAME, 4)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 30000, None)
    if reply.unpack()[0] != 1:
        raise SystemExit("focus app: the plug's name is taken")
    return bus


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in MODES:
        sys.exit("usage: focus_atspi_app.py " + "|".join(MODES))
    mode = sys.argv[1]
    try:
        main_bus = fake.accessibility_bus()
        plug_bus = second_connection() if mode == "embedded" else None
        app = FocusApplication(mode, main_bus, plug_bus)
        info = Gio.DBusNodeInfo.new_for_xml(fake.INTROSPECTION)
        for connection in (app.main, app.plugged):
            if connection:
                connection.export(info)
        fake.FakeApplication.embed(app.main)
    except GLib.Error as error:
        sys.exit(f"focus app: no accessibility bus to register on: {error.message}")
    fake.run_until_ended(f"ready {app.main.name}", lambda loop: fake.serve_commands(app, loop))


if __name__ == "__main__":
    main()
