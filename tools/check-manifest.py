#!/usr/bin/env python3
"""check-manifest.py VERSION < MANIFEST

Reads an application manifest on standard input and checks that it is
well-formed XML holding exactly the launcher's settings: its own identity
(KSTGATE, of VERSION in four parts such as 1.0.0.0), elevation to
administrator, the five supported systems, Common Controls 6, per-monitor DPI
awareness, and nothing else in its windows settings (no activeCodePage, no
longPathAware). Prints the first problem and exits 1; silent and 0 when good."""
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
WS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
WS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def q(ns, tag):
    return "{%s}%s" % (ns, tag)


def one(parent, path, what):
    found = parent.findall(path)
    if len(found) != 1:
        raise ValueError("%d %s, not 1" % (len(found), what))
    return found[0]


def check(text, version):
    try:
        root = ET.fromstring(text)
    except ET.ParseError as error:
        raise ValueError("not well-formed XML: %s" % error)
    if root.tag != q(ASM_V1, "assembly") or root.get("manifestVersion") != "1.0":
        raise ValueError("root is not an assembly of manifest version 1.0")

    own = one(root, "./{%s}assemblyIdentity" % ASM_V1, "identities of the launcher's own")
    if own.get("name") != "KSTGATE" or own.get("version") != version:
        raise ValueError('the launcher\'s identity is name="%s" version="%s", not KSTGATE %s'
                         % (own.get("name"), own.get("version"), version))

    level = one(root, "./{%s}trustInfo/{%s}security/{%s}requestedPrivileges/{%s}requestedExecutionLevel"
                % (ASM_V3, ASM_V3, ASM_V3, ASM_V3), "requestedExecutionLevel elements")
    if level.get("level") != "requireAdministrator" or level.get("uiAccess") != "false":
        raise ValueError('requestedExecutionLevel is level="%s" uiAccess="%s"'
                         % (level.get("level"), level.get("uiAccess")))
    if len(root.findall(".//" + q(ASM_V3, "requestedExecutionLevel"))) != 1:
        raise ValueError("more than one requestedExecutionLevel")

    oses = [e.get("Id", "").lower() for e in root.findall(".//" + q(COMPAT, "supportedOS"))]
    if sorted(oses) != sorted(SUPPORTED_OS):
        raise ValueError("supportedOS %s, not Vista, 7, 8, 8.1 and 10/11" % sorted(oses))

    identities = root.findall("./{%s}dependency/{%s}dependentAssembly/{%s}assemblyIdentity" % (ASM_V1, ASM_V1, ASM_V1))
    if len(identities) != 1:
        raise ValueError("%d dependent assemblies, not 1" % len(identities))
    want = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "publicKeyToken": "6595b64144ccf1df"}
    for key, value in want.items():
        if identities[0].get(key) != value:
            raise ValueError('dependency has %s="%s", not "%s"' % (key, identities[0].get(key), value))

    settings = one(root, "./{%s}application/{%s}windowsSettings" % (ASM_V3, ASM_V3), "windowsSettings elements")
    found = {}
    for child in settings:
        if child.tag in found:
            raise ValueError("windowsSettings holds %s twice" % child.tag)
        found[child.tag] = (child.text or "").strip()
    want = {q(WS_2005, "dpiAware"): "true/pm", q(WS_2016, "dpiAwareness"): "PerMonitorV2, PerMonitor"}
    # Exactly these two: so no activeCodePage, no longPathAware, nothing else.
    if found != want:
        raise ValueError("windowsSettings hold %s, not exactly %s" % (found, want))


def main():
    if len(sys.argv) != 2:
        print("usage: check-manifest.py VERSION < MANIFEST   (VERSION in four parts: 1.0.0.0)")
        return 2
    try:
        check(sys.stdin.buffer.read(), sys.argv[1])
    except ValueError as error:
        print(error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
