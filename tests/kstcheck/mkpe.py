#!/usr/bin/env python3
"""Writes small Windows program files (PE) for the kstcheck tests and fuzz
seeds: headers, one resource section with dialog templates, and on request
the faults a hostile file may carry. The files are never run.

  mkpe.py OUT [--machine x86|x64|arm64|0xNNNN] [--dll]
              [--dialog ID:CAPTION:CONTROL,CONTROL...[:ex]]...
CONTROL: a button's id; with "d" after it (101d) the button starts disabled.
ID: a number, or a name (a string entry); with ":exd" or ":d" at the end the
dialog itself starts disabled.
              [--named-type NAME:ID:CAPTION:CONTROL...] [--hostile KIND] [--truncate BYTES]
--named-type: a resource type named NAME beside the dialogs, holding one
resource in the form of a dialog template.
  mkpe.py --batch     (the same arguments for one file a line, on input)

KIND: loop (the names directory leads back to the root), rsrc-past-end
(the resource directory lies past the file's end), data-past-end (a
dialog's data lies past the file's end), long-dialog (a dialog claims more
controls than it holds), no-pe (e_lfanew points past the end), many-entries
(a directory claims 65535 entries).
"""
import argparse
import shlex
import struct
import sys

MACHINES = {"x86": 0x14C, "x64": 0x8664, "arm64": 0xAA64}
SECTION_RVA = 0x1000
FILE_ALIGN = 0x200


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def align(data, n=4):
    return data + b"\0" * (-len(data) % n)


def dialog_template(caption, controls, extended, disabled=False):
    """A dialog with a caption, a font and a button for each control
    (id, disabled)."""
    style = 0x80C800C0 | (0x08000000 if disabled else 0)  # popup, caption, system menu, modal frame, set font
    item_styles = {False: 0x50010000, True: 0x58010000}  # child, visible, tab stop; disabled
    if extended:
        data = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, style, len(controls), 0, 0, 200, 100)
        data += b"\0\0" + b"\0\0" + utf16z(caption)
        data += struct.pack("<HHBB", 8, 400, 0, 1) + utf16z("MS Shell Dlg")
        for control, disabled in controls:
            data = align(data)
            data += struct.pack("<IIIhhhhI", 0, 0, item_styles[disabled], 10, 10, 50, 14, control)
            data += struct.pack("<HH", 0xFFFF, 0x0080) + utf16z("Button %d" % control) + b"\0\0"
    else:
        data = struct.pack("<IIHhhhh", style, 0, len(controls), 0, 0, 200, 100)
        data += b"\0\0" + b"\0\0" + utf16z(caption)
        data += struct.pack("<H", 8) + utf16z("MS Shell Dlg")
        for control, disabled in controls:
            data = align(data)
            data += struct.pack("<IIhhhhH", item_styles[disabled], 0, 10, 10, 50, 14, control)
            data += struct.pack("<HH", 0xFFFF, 0x0080) + utf16z("Button %d" % control) + b"\0\0"
    return data


def directory(entries):
    """A resource directory: (key, field) entries, a key a number or a
    name's offset with the name bit (named entries first)."""
    named = sum(1 for key, _ in entries if key & 0x80000000)
    data = struct.pack("<IIHHHH", 0, 0, 0, 0, named, len(entries) - named)
    for key, field in entries:
        data += struct.pack("<II", key, field)
    return data


def resource_section(dialogs, hostile, named_type=None):
    """Root (type 5, and a named type) -> names -> one language each -> data
    entries -> templates, then the names' strings."""
    sub = 0x80000000
    resources = [(5,) + d for d in dialogs]
    if named_type:
        resources.append(("TYPE",) + named_type[1:])
    n = len(resources)
    root_at = 0
    types = 2 if named_type else 1
    names_at = root_at + 16 + 8 * types
    langs_at = names_at + 16 + 8 * len(dialogs) + (24 if named_type else 0)
    entries_at = langs_at + (16 + 8) * n
    templates_at = entries_at + 16 * n
    templates = b""
    template_places = []
    for _, ident, caption, controls, extended, disabled in resources:
        template = dialog_template(caption, controls, extended, disabled)
        template_places.append((templates_at + len(templates), len(template)))
        templates = align(templates + template)
    strings = b""
    strings_at = templates_at + len(templates)

    def name_key(name):
        nonlocal strings
        at = strings_at + len(strings)
        strings = align(strings + struct.pack("<H", len(name)) + name.encode("utf-16-le"), 2)
        return 0x80000000 | at

    def key(ident):
        return ident if isinstance(ident, int) else name_key(ident)

    type_entries = [(5, sub | names_at)]
    if named_type:
        type_entries.insert(0, (name_key(named_type[0]), sub | (names_at + 16 + 8 * len(dialogs))))
    data = directory(type_entries)
    if hostile == "many-entries":
        data = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 0xFFFF) + data[16:]
    names = []
    for i, (_, ident, _, _, _, _) in enumerate(resources[:len(dialogs)]):
        target = root_at if hostile == "loop" else langs_at + 24 * i
        names.append((key(ident), sub | target))
    data += directory(names)
    if named_type:
        data += directory([(key(named_type[1]), sub | (langs_at + 24 * len(dialogs)))])
    for i in range(n):
        data += directory([(0x409, entries_at + 16 * i)])
    for i, (place, size) in enumerate(template_places):
        rva = SECTION_RVA + place
        if hostile == "data-past-end" and i == 0:
            rva = 0x7FFF0000
        data += struct.pack("<IIII", rva, size, 0, 0)
    data += templates
    if hostile == "long-dialog":
        # The first dialog claims more controls than its data holds.
        place = template_places[0][0]
        count_at = place + (16 if dialogs[0][3] else 8)
        data = data[:count_at] + struct.pack("<H", 0x7FFF) + data[count_at + 2:]
    return data + strings


def pe_file(machine, dll, dialogs, hostile, named_type=None):
    pe32plus = machine != MACHINES["x86"]
    rsrc = resource_section(dialogs, hostile, named_type) if dialogs else b""
    raw = align(rsrc or b"\0", FILE_ALIGN)
    optional_size = 240 if pe32plus else 224
    characteristics = 0x0022 if pe32plus else 0x0102
    if dll:
        characteristics |= 0x2000
    e_lfanew = 0x7FFFFFF0 if hostile == "no-pe" else 0x40
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", e_lfanew)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, optional_size, characteristics)

    rsrc_rva = SECTION_RVA if rsrc else 0
    if hostile == "rsrc-past-end":
        rsrc_rva = 0x00F00000
    directories = [(0, 0)] * 16
    directories[2] = (rsrc_rva, len(rsrc))
    image_size = SECTION_RVA + len(raw) + 0xFFF & ~0xFFF
    if pe32plus:
        optional = struct.pack("<HBBIIIII", 0x20B, 14, 0, 0, 0, 0, 0, 0)
        optional += struct.pack("<QIIHHHHHHIIIIHHQQQQII", 0x140000000, 0x1000, FILE_ALIGN, 6, 0, 0, 0, 6, 0, 0,
                                image_size, FILE_ALIGN, 0, 2, 0x8160, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    else:
        optional = struct.pack("<HBBIIIIII", 0x10B, 14, 0, 0, 0, 0, 0, 0, 0)
        optional += struct.pack("<IIIHHHHHHIIIIHHIIIIII", 0x400000, 0x1000, FILE_ALIGN, 6, 0, 0, 0, 6, 0, 0,
                                image_size, FILE_ALIGN, 0, 2, 0x8140, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    for rva, size in directories:
        optional += struct.pack("<II", rva, size)
    assert len(optional) == optional_size
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc) or 1, SECTION_RVA, len(raw), FILE_ALIGN, 0, 0, 0,
                          0, 0x40000040)
    headers = align(dos + coff + optional + section, FILE_ALIGN)
    return headers + raw


def parse_dialog(text):
    parts = text.split(":")
    ident = int(parts[0]) if parts[0].isdigit() else parts[0]
    caption = parts[1]
    controls = [(int(c.rstrip("d")), c.endswith("d")) for c in parts[2].split(",") if c] if len(parts) > 2 else []
    flags = parts[3] if len(parts) > 3 else ""
    return ident, caption, controls, flags.startswith("ex"), flags.endswith("d")


def write_file(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--machine", default="x64")
    parser.add_argument("--dll", action="store_true")
    parser.add_argument("--dialog", action="append", default=[])
    parser.add_argument("--named-type", default="")
    parser.add_argument("--hostile", default="")
    parser.add_argument("--truncate", type=int, default=-1)
    args = parser.parse_args(argv)
    machine = MACHINES.get(args.machine) or int(args.machine, 0)
    # Named entries come first, in order of their names, then numbered ones.
    dialogs = sorted((parse_dialog(d) for d in args.dialog),
                     key=lambda d: (0, d[0], 0) if isinstance(d[0], str) else (1, "", d[0]))
    named_type = None
    if args.named_type:
        type_name, rest = args.named_type.split(":", 1)
        named_type = (type_name,) + parse_dialog(rest)
    data = pe_file(machine, args.dll, dialogs, args.hostile, named_type)
    if args.truncate >= 0:
        data = data[:args.truncate]
    with open(args.out, "wb") as out:
        out.write(data)


def main():
    if sys.argv[1:] == ["--batch"]:
        for line in sys.stdin:
            if line.strip():
                write_file(shlex.split(line))
    else:
        write_file(sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
