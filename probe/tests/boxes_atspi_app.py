#!/usr/bin/python3
"""Scripted accessible applications whose range extents do not describe the selection, one
MODE a run, each as a toolkit on the desktop answers:

    element-relative  a terminal at (120, 132) whose range and character extents are relative
                      to the terminal itself, though asked for the screen
    one-line-high     an editor (as KDE's) whose two-line selection's extents are about one
                      line high, its characters 0 pixels high at their lines' tops
    container-box     a page whose selection is one embedded paragraph: the page answers the
                      paragraph block's box (275 by 57), the paragraph its line's (224 by 22)

    boxes_atspi_app.py MODE

Each prints "ready" once the registry has taken it, and ends when standard input closes, on
SIGTERM or SIGINT. The box each mode must give is in boxes_first_answer.py.
"""

import sys

import gi

gi.require_version("Gio", "2.0")
gi.require_version("GLib", "2.0")
from gi.repository import GLib  # noqa: E402

import hostile_atspi_app as scripted  # noqa: E402  (the objects and their answers)

TERMINAL_BOX = (120, 132, 600, 400)
TERMINAL_TEXT = "user@host:~$ ls\nnotes.txt  probe\n"
KDE_VIEW = (336, 216, 751, 517)
KDE_TEXT = "Grüße from the probe\nsecond line stays\nthird line"
CJK = "这是一个用于测试的中文段落。"


def grid_box(origin, offset, text, width, height):
    """(x, y, width, height) of character `offset` of `text` laid out in lines from `origin`,
    each character `width` wide, each line `height` high."""
    line = text.count("\n", 0, offset)
    column = offset - (text.rfind("\n", 0, offset) + 1)
    return (origin[0] + width * column, origin[1] + height * line, width, height)


class Boxes(scripted.Application):
    """Range and character extents as one mode's toolkit answers them."""

    def __init__(self, bus, name, range_box, character_box):
        super().__init__(bus, name)
        self.range_box = range_box  # (node, start, end) -> box
        self.character_box = character_box  # (node, offset) -> box

    def text_call(self, node, method, args):
        if method == "GetRangeExtents":
            return "(iiii)", self.range_box(node, args[0], args[1])
        if method == "GetCharacterExtents":
            return "(iiii)", self.character_box(node, args[0])
        return super().text_call(node, method, args)


def terminal_character(_node, offset):
    # Relative to the terminal: its text starts 16 pixels in and 18 down, 8 by 18 a cell.
    return grid_box((16, 18), offset, TERMINAL_TEXT, 8, 18)


def terminal_range(node, start, end):
    first, last = terminal_character(node, start), terminal_character(node, end - 1)
    left, right = min(first[0], last[0]), max(first[0] + 8, last[0] + 8)
    return (left, first[1], right - left, last[1] + 18 - first[1])


def element_relative():
    app = Boxes(scripted.fake.accessibility_bus(), "terminal", terminal_range,
                terminal_character)
    app.add("/frame", scripted.Node(scripted.ROLE_FRAME, [scripted.COMPONENT,
                                                          scripted.COLLECTION],
                                    scripted.ACTIVE_FRAME, box=(100, 100, 640, 440)))
    terminal = scripted.field(TERMINAL_TEXT, (0, 15))
    terminal.box = TERMINAL_BOX
    app.add("/terminal", terminal, "/frame")
    return app


def kde_character(_node, offset):
    x, y, width, _height = grid_box((379, 216), offset, KDE_TEXT, 7, 18)
    return (x, y, width, 0)


def kde_range(node, start, end):
    # From two pixels above the first line's top to three below the last line's top, as kwrite.
    first, last = kde_character(node, start), kde_character(node, end - 1)
    return (334, first[1] - 2, 201, last[1] - first[1] + 3 + 2)


def one_line_high():
    app = Boxes(scripted.fake.accessibility_bus(), "editor", kde_range, kde_character)
    app.add("/frame", scripted.Node(scripted.ROLE_FRAME, [scripted.COMPONENT,
                                                          scripted.COLLECTION],
                                    scripted.ACTIVE_FRAME, box=(288, 157, 864, 600)))
    view = scripted.field(KDE_TEXT, (0, KDE_TEXT.index("\nthird")))
    view.box = KDE_VIEW
    app.add("/view", view, "/frame")
    return app


def page_range(node, _start, _end):
    # The page answers the paragraph's block; the paragraph its own line.
    return (100, 357, 275, 57) if node.text == "\uFFFC" else (100, 357, 224, 22)


def page_character(_node, offset):
    return (100 + 16 * offset, 357, 16, 22)


def container_box():
    app = Boxes(scripted.fake.accessibility_bus(), "page", page_range, page_character)
    app.add("/frame", scripted.Node(scripted.ROLE_FRAME, [scripted.COMPONENT,
                                                          scripted.COLLECTION],
                                    scripted.ACTIVE_FRAME, box=(80, 52, 1280, 810)))
    interfaces = [scripted.COMPONENT, scripted.TEXT, scripted.HYPERTEXT]
    page = app.add("/page", scripted.Node(scripted.ROLE_PARAGRAPH, interfaces,
                                          scripted.FOCUSED_FIELD, text="\uFFFC",
                                          selection=(0, 1), box=(80, 188, 1280, 674)), "/frame")
    app.add("/cjk", scripted.Node(scripted.ROLE_PARAGRAPH, interfaces,
                                  scripted.states(scripted.ENABLED, scripted.SHOWING,
                                                  scripted.VISIBLE),
                                  text=CJK, selection=(0, len(CJK)), box=(100, 357, 1240, 22)),
            "/page")
    link = scripted.Node(0, [scripted.HYPERLINK], scripted.states())
    link.target = (app.name, "/cjk")
    app.objects["/link0"] = link
    page.links = {0: "/link0"}
    return app


MODES = {
    "element-relative": element_relative,
    "one-line-high": one_line_high,
    "container-box": container_box,
}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in MODES:
        sys.exit("usage: boxes_atspi_app.py " + "|".join(MODES))
    try:
        app = MODES[sys.argv[1]]()
        app.export()
        app.embed()
    except GLib.Error as error:
        sys.exit(f"boxes: no accessibility bus to register on: {error.message}")
    scripted.fake.run_until_ended("ready")


if __name__ == "__main__":
    main()
