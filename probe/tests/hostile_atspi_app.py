#!/usr/bin/python3
"""Hostile accessible applications on the session's accessibility bus, one MODE a run. Each
registers with the registry as toolkits do; every answer is what some application on the
desktop may send:

    password-child      a focused paragraph, all selected, "Login: ann \\uFFFC done" whose one
                        embedded child is a password field holding the secret
    cache-loop N        no Collection; the object cache names N focused objects whose parents
                        form a loop, beside the focused field below the active frame
    fffc-flood N        a focused paragraph whose selected range's text answers N MiB of
                        U+FFFC
    background-crowd N  a background application with N children, registered before the
                        active one with the focused field
    text-longer         the selected range's text answers "" twice, then 4 MiB
    extents-far         the range's extents are (2147483647, 0, 1, 17)
    extents-negative    the range's extents are (0, 0, -2147483648, 17)
    nameless-child      the frame's children and the focus search name a child ("", path)
    plain               nothing hostile: the focused field with its selection
    inclusive-end       nothing selected, the caret at 5, and every GetText answers one
                        character more than its range, as a terminal whose ends are inclusive

    hostile_atspi_app.py MODE [N]

It prints "ready" once the registry has taken it, and ends when standard input closes, on
SIGTERM or SIGINT.
"""

import sys

import gi

gi.require_version("Gio", "2.0")
gi.require_version("GLib", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

import fake_atspi_app as fake  # noqa: E402  (the scripted application beside this file)

ROOT = "/org/a11y/atspi/accessible/root"
NULL = "/org/a11y/atspi/null"
SECRET = "s3cret-hunter2"
FIELD_TEXT = "Read this hostile field."
FIELD_BOX = (200, 150, 300, 30)

ROLE_APPLICATION, ROLE_FRAME, ROLE_ENTRY, ROLE_PARAGRAPH, ROLE_PASSWORD = 75, 23, 79, 73, 40
ACTIVE, EDITABLE, ENABLED, FOCUSABLE, FOCUSED = 1, 7, 8, 11, 12
SENSITIVE, SHOWING, VISIBLE = 24, 25, 30

ACCESSIBLE = "org.a11y.atspi.Accessible"
APPLICATION = "org.a11y.atspi.Application"
COLLECTION = "org.a11y.atspi.Collection"
COMPONENT = "org.a11y.atspi.Component"
TEXT = "org.a11y.atspi.Text"
HYPERTEXT = "org.a11y.atspi.Hypertext"
HYPERLINK = "org.a11y.atspi.Hyperlink"
CACHE = "org.a11y.atspi.Cache"

# The scripted application's interfaces, with those a hostile one answers too.
INTROSPECTION = fake.INTROSPECTION.replace("</node>", """
  <interface name="org.a11y.atspi.Hypertext">
    <method name="GetNLinks"><arg direction="out" type="i"/></method>
    <method name="GetLink"><arg direction="in" type="i"/><arg direction="out" type="(so)"/></method>
    <method name="GetLinkIndex">
      <arg direction="in" type="i"/><arg direction="out" type="i"/>
    </method>
  </interface>
  <interface name="org.a11y.atspi.Hyperlink">
    <method name="GetObject"><arg direction="in" type="i"/><arg direction="out" type="(so)"/></method>
    <property name="StartIndex" type="i" access="read"/>
    <property name="EndIndex" type="i" access="read"/>
    <property name="NAnchors" type="n" access="read"/>
  </interface>
  <interface name="org.a11y.atspi.Cache">
    <method name="GetItems">
      <arg direction="out" type="a((so)(so)(so)iiassusau)"/>
    </method>
  </interface>
</node>""")


states = fake.state_words


FOCUSED_FIELD = states(EDITABLE, ENABLED, FOCUSABLE, FOCUSED, SENSITIVE, SHOWING, VISIBLE)
ACTIVE_FRAME = states(ACTIVE, ENABLED, SENSITIVE, SHOWING, VISIBLE)


class Node:
    """One accessible object: its facts and, for Text, its text and selection."""

    def __init__(self, role, interfaces, node_states, text=None, selection=None, box=FIELD_BOX):
        self.role = role
        self.interfaces = [ACCESSIBLE, *interfaces]
        self.states = node_states
        self.text = text
        self.selection = selection
        self.box = box
        self.children = []  # (bus name, path)
        self.parent = ("", NULL)
        self.links = {}  # character offset -> hyperlink path
        self.target = None  # a hyperlink's object
        self.text_reads = 0


class Application:
    """The objects of one application on one connection, and its hostile answers."""

    def __init__(self, bus, name):
        self.bus = bus
        self.name = bus.get_unique_name()
        self.objects = {ROOT: Node(ROLE_APPLICATION, [APPLICATION], states())}
        self.objects[ROOT].parent = ("org.a11y.atspi.Registry", ROOT)
        self.title = name
        self.cache = None  # GetItems' answer, when the application keeps a cache
        self.extents = None  # the range's extents, when hostile
        self.text_answers = None  # successive answers to the selected range's GetText
        self.inclusive_end = False
        self.caret = 0

    def add(self, path, node, parent=ROOT):
        node.parent = (self.name, parent)
        self.objects[path] = node
        self.objects[parent].children.append((self.name, path))
        return node

    def range_text(self, node, start, end):
        node.text_reads += 1
        if self.inclusive_end and end >= 0:
            end += 1
        if self.text_answers and (start, end) == node.selection:
            return self.text_answers[min(node.text_reads, len(self.text_answers)) - 1]
        length = len(node.text)
        end = length if end < 0 or end > length else end
        return node.text[max(0, start):max(start, end)]

    def text_call(self, node, method, args):
        if method == "GetNSelections":
            return "(i)", (1 if node.selection else 0,)
        if method == "GetSelection":
            return "(ii)", node.selection if node.selection and args[0] == 0 else (-1, -1)
        if method == "GetText":
            return "(s)", (self.range_text(node, args[0], args[1]),)
        if method == "GetRangeExtents":
            return "(iiii)", self.extents or (node.box[0] + 4, node.box[1] + 6, 80, 17)
        if method == "GetCharacterExtents":
            return "(iiii)", (node.box[0] + 4, node.box[1] + 6, 7, 17)
        return None

    def accessible_call(self, node, method, args=()):
        if method == "GetChildren":
            # Built once: a crowd of children is answered as fast as a toolkit would.
            if getattr(node, "children_reply", None) is None:
                node.children_reply = GLib.Variant("(a(so))", (node.children,))
            return node.children_reply
        if method == "GetChildAtIndex":
            index = args[0] if args else 0
            inside = 0 <= index < len(node.children)
            return "((so))", (node.children[index] if inside else ("", NULL),)
        if method == "GetIndexInParent":
            return "(i)", (0,)
        if method == "GetState":
            return "(au)", (node.states,)
        if method == "GetRole":
            return "(u)", (node.role,)
        if method == "GetRoleName":
            return "(s)", ("hostile",)
        if method == "GetInterfaces":
            return "(as)", (node.interfaces,)
        if method == "GetAttributes":
            return "(a{ss})", ({},)
        if method == "GetApplication":
            return "((so))", ((self.name, ROOT),)
        return None

    def answer(self, path, interface, method, args):
        node = self.objects.get(path)
        if node is None or interface not in node.interfaces:
            return None
        if interface == ACCESSIBLE:
            return self.accessible_call(node, method, args)
        if interface == COLLECTION and method == "GetMatches":
            return "(a(so))", (self.focused_below(path),)
        if interface == COMPONENT:
            answer = fake.component_reply(method, node.box)
            if answer:
                return answer
        if interface == TEXT:
            return self.text_call(node, method, args)
        if interface == HYPERTEXT:
            if method == "GetNLinks":
                return "(i)", (len(node.links),)
            if method == "GetLinkIndex":
                return "(i)", (list(node.links).index(args[0]) if args[0] in node.links else -1,)
            if method == "GetLink":
                links = list(node.links.values())
                link = links[args[0]] if 0 <= args[0] < len(links) else NULL
                return "((so))", ((self.name, link),)
        if interface == HYPERLINK and method == "GetObject":
            return "((so))", (node.target,)
        if interface == CACHE and method == "GetItems":
            return self.cache_reply()
        return None

    def cache_reply(self):
        # Built once: a large cache is answered as fast as a toolkit's own would be.
        if getattr(self, "cache_variant", None) is None:
            self.cache_variant = GLib.Variant("(a((so)(so)(so)iiassusau))", (self.cache or [],))
        return self.cache_variant

    def focused_below(self, path):
        found, queue = [], list(self.objects[path].children)
        while queue:
            child = queue.pop(0)
            node = self.objects.get(child[1]) if child[0] == self.name else None
            if node is None:
                found.append(child)  # a reference the application cannot vouch for
                continue
            if node.states[0] & (1 << FOCUSED):
                found.append(child)
            queue.extend(node.children)
        return found

    def property(self, path, name):
        node = self.objects.get(path)
        if node is None:
            return None
        values = {
            "Name": GLib.Variant("s", self.title if path == ROOT else "hostile"),
            "Description": GLib.Variant("s", ""),
            "Parent": GLib.Variant("(so)", node.parent),
            "ChildCount": GLib.Variant("i", len(node.children)),
            "ToolkitName": GLib.Variant("s", "hostile"),
            "Version": GLib.Variant("s", "1.0"),
            "AtspiVersion": GLib.Variant("s", "2.1"),
            "Id": GLib.Variant("i", 0),
            "CharacterCount": GLib.Variant("i", len(node.text or "")),
            "CaretOffset": GLib.Variant("i", self.caret),
            "StartIndex": GLib.Variant("i", 0),
            "EndIndex": GLib.Variant("i", 1),
            "NAnchors": GLib.Variant("n", 1),
        }
        return values.get(name)

    def on_call(self, _bus, _sender, path, interface, method, parameters, invocation):
        try:
            answered = self.answer(path, interface, method, parameters.unpack())
        except (IndexError, KeyError, TypeError, ValueError) as error:
            print(f"hostile: {interface}.{method} on {path}: {error}", file=sys.stderr)
            answered = None
        if answered is None:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod",
                                         f"{interface}.{method} is not scripted here")
            return
        if isinstance(answered, GLib.Variant):
            invocation.return_value(answered)
            return
        reply_type, values = answered
        invocation.return_value(GLib.Variant(reply_type, values))

    def export(self):
        node_info = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
        vtable = (self.on_call, lambda _b, _s, path, _i, name: self.property(path, name), None)
        for path, node in self.objects.items():
            for interface in node.interfaces:
                self.bus.register_object(path, node_info.lookup_interface(interface), *vtable)

    embed = fake.FakeApplication.embed  # registers with the registry, as the scripted one does


def active_app(title, with_collection=True):
    """An application with an active frame; the caller adds what the frame holds."""
    app = Application(fake.accessibility_bus(), title)
    frame_interfaces = [COMPONENT] + ([COLLECTION] if with_collection else [])
    app.add("/frame", Node(ROLE_FRAME, frame_interfaces, ACTIVE_FRAME,
                           box=(180, 100, 400, 200)))
    return app


def field(text, selection):
    return Node(ROLE_ENTRY, [COMPONENT, TEXT], FOCUSED_FIELD, text=text, selection=selection)


def password_child(_count):
    app = active_app("password child")
    text = "Login: ann \uFFFC done"
    paragraph = app.add("/paragraph", Node(ROLE_PARAGRAPH, [COMPONENT, TEXT, HYPERTEXT],
                                           FOCUSED_FIELD, text=text, selection=(0, len(text))),
                        "/frame")
    offset = text.index("\uFFFC")
    secret = app.add("/secret", Node(ROLE_PASSWORD, [COMPONENT, TEXT],
                                     states(EDITABLE, ENABLED, FOCUSABLE, SHOWING, VISIBLE),
                                     text=SECRET, selection=None), "/paragraph")
    link = Node(0, [HYPERLINK], states())
    link.target = (app.name, "/secret")
    app.objects["/link0"] = link
    paragraph.links = {offset: "/link0"}
    del secret
    return [app]


def cache_loop(count):
    app = active_app("cache loop", with_collection=False)
    app.add("/field", field(FIELD_TEXT, (5, 12)), "/frame")
    app.objects["/org/a11y/atspi/cache"] = Node(0, [CACHE], states())
    items = []
    for index in range(count):
        parent = f"/loop{(index + 1) % count}"
        items.append(((app.name, f"/loop{index}"), (app.name, ROOT), (app.name, parent), 0, 0,
                      [ACCESSIBLE, TEXT], "", ROLE_ENTRY, "", FOCUSED_FIELD))
    items.append(((app.name, "/field"), (app.name, ROOT), (app.name, "/frame"), 0, 0,
                  [ACCESSIBLE, COMPONENT, TEXT], "", ROLE_ENTRY, "", FOCUSED_FIELD))
    app.cache = items
    app.cache_reply()
    return [app]


def fffc_flood(mebibytes):
    app = active_app("embedded flood")
    app.add("/field", Node(ROLE_PARAGRAPH, [COMPONENT, TEXT, HYPERTEXT], FOCUSED_FIELD,
                           text="a \uFFFC b", selection=(0, 3)), "/frame")
    # Whatever range is asked for, the answer is the flood.
    app.text_answers = ["\uFFFC" * (mebibytes * 1024 * 1024 // 3)]
    return [app]


def background_crowd(count):
    crowd = Application(fake.accessibility_bus(), "crowd")
    for index in range(count):
        crowd.add(f"/c{index}", Node(ROLE_FRAME, [], states(ENABLED, SHOWING, VISIBLE)))
    crowd.accessible_call(crowd.objects[ROOT], "GetChildren")
    app = active_app("the active one")
    app.add("/field", field(FIELD_TEXT, (5, 12)), "/frame")
    return [crowd, app]


def text_longer(_count):
    app = active_app("text longer")
    app.add("/field", field(FIELD_TEXT, (5, 10)), "/frame")
    app.text_answers = ["", "", "x" * (4 * 1024 * 1024)]
    return [app]


def extents(box):
    def make(_count):
        app = active_app("far extents")
        app.add("/field", field(FIELD_TEXT, (5, 12)), "/frame")
        app.extents = box
        return [app]
    return make


def nameless_child(_count):
    app = active_app("nameless child")
    app.add("/field", field(FIELD_TEXT, (5, 12)), "/frame")
    app.objects["/frame"].children.insert(0, ("", "/ghost"))
    return [app]


def plain(_count):
    app = active_app("plain")
    app.add("/field", field(FIELD_TEXT, (5, 12)), "/frame")
    return [app]


def inclusive_end(_count):
    app = active_app("inclusive end")
    app.add("/field", field(FIELD_TEXT, None), "/frame")
    app.inclusive_end = True
    app.caret = 5
    return [app]


MODES = {
    "plain": plain,
    "inclusive-end": inclusive_end,
    "password-child": password_child,
    "cache-loop": cache_loop,
    "fffc-flood": fffc_flood,
    "background-crowd": background_crowd,
    "text-longer": text_longer,
    "extents-far": extents((2147483647, 0, 1, 17)),
    "extents-negative": extents((0, 0, -2147483648, 17)),
    "nameless-child": nameless_child,
}


def main():
    if len(sys.argv) not in (2, 3) or sys.argv[1] not in MODES:
        sys.exit("usage: hostile_atspi_app.py " + "|".join(MODES) + " [N]")
    count = int(sys.argv[2]) if len(sys.argv) == 3 else 1
    try:
        apps = MODES[sys.argv[1]](count)
        for app in apps:
            app.export()
            app.embed()
    except GLib.Error as error:
        sys.exit(f"hostile: no accessibility bus to register on: {error.message}")
    fake.run_until_ended("ready")


if __name__ == "__main__":
    main()
