#!/usr/bin/env python3
"""Writes the WiX source of one installer package for wixl.

    make_wxs.py --platform win32|win64 --version X.Y.Z --stage <folder> --rows <file>
                --out <wxs file> --fixups <file of msibuild calls>

The package is always an x64 package (Platform x64): only such a package can write both registry
views, and the 32-bit server on 64-bit Windows needs its keys in both. --platform names the
server it holds: win32 (the shipping 32-bit server, under Program Files (x86)) or win64 (the
64-bit server, under Program Files). --stage holds the files to install; --rows is what
korvane_registry_rows.exe printed for that platform: the same rows /RegServer writes.

Every GUID is derived from the platform, the version and the content, so the same sources give
the same package. The UpgradeCodes are fixed for good (docs/deploy.md).
"""
import argparse
import hashlib
import os
import uuid
from xml.sax.saxutils import quoteattr

UPGRADE_CODES = {
    "win32": "{6E7D295D-954E-4133-96C9-4F33AF1DDC13}",
    "win64": "{BD80695F-9214-4392-8936-3F3746FC9D76}",
}
PRODUCT_NAMES = {
    "win32": "Korvane QuandrelCom (32-bit server)",
    "win64": "Korvane QuandrelCom (64-bit server)",
}
# Set when the other server's package is installed (same context: per machine or this user).
OTHER_FOUND = "KORVANE_OTHER_SERVER_FOUND"
# A custom INSTALLDIR (outside both Program Files folders) per machine is locked to
# administrators and SYSTEM (full control) and users (read and execute), inherited by every file
# in it; under Program Files the folder keeps what Windows Installer gives it there.
LOCK_SDDL = "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
LOCK_CONDITION = ("ALLUSERS AND NOT (INSTALLDIR ~<< ProgramFilesFolder)"
                  " AND NOT (INSTALLDIR ~<< ProgramFiles64Folder)")
NAMESPACE = uuid.UUID("8A3C1D52-5E0B-4E7A-9C61-2B8F4D7E6A10")
FILES = ["QuandrelCom.exe", "quandrelcmd.exe", "QuandrelCom.tlb", "README.txt", "LICENSE.txt"]


def guid(*parts):
    return "{%s}" % str(uuid.uuid5(NAMESPACE, "/".join(parts))).upper()


def read_rows(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line:
                continue
            where, key, name, kind, data = line.split("\t")
            rows.append((where, key, name, kind, data))
    return rows


def registry_component(ident, component_guid, win64, root, rows):
    out = ['      <Component Id="%s" Guid="%s" Win64="%s">' % (ident, component_guid,
                                                                 "yes" if win64 else "no")]
    for i, (_, key, name, kind, data) in enumerate(rows):
        attrs = 'Root="%s" Key=%s' % (root, quoteattr("Software\\Classes\\" + key))
        if name:
            attrs += " Name=%s" % quoteattr(name)
        attrs += ' Type="%s" Value=%s' % ("binary" if kind == "binary" else "string",
                                          quoteattr(data))
        if i == 0:
            attrs += ' KeyPath="yes"'
        out.append("        <RegistryValue %s/>" % attrs)
    out.append("      </Component>")
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--platform", choices=sorted(UPGRADE_CODES), required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--stage", required=True)
    ap.add_argument("--rows", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--fixups", required=True)
    args = ap.parse_args()

    platform, version = args.platform, args.version
    server64 = platform == "win64"
    rows = read_rows(args.rows)
    content = hashlib.sha256()
    for name in FILES:
        with open(os.path.join(args.stage, name), "rb") as f:
            content.update(name.encode() + b"\0" + f.read())
    with open(args.rows, "rb") as f:
        content.update(f.read())
    digest = content.hexdigest()

    bits = "64" if server64 else "32"
    other = "win32" if server64 else "win64"
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
        '  <Product Id="%s" Name="%s" Language="1033"'
        ' Version="%s" Manufacturer="Korvane" UpgradeCode="%s">'
        % (guid("product", platform, version), PRODUCT_NAMES[platform], version,
           UPGRADE_CODES[platform]),
        '    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"'
        ' Manufacturer="Korvane"'
        ' Description="Korvane QuandrelCom %s, %s-bit automation server"'
        ' Comments="Korvane.QuandrelCom automation server and the quandrelcmd console program"/>'
        % (version, bits),
        '    <Media Id="1" Cabinet="quandrelcom.cab" EmbedCab="yes"/>',
        '    <MajorUpgrade DowngradeErrorMessage="A later version of [ProductName] is already'
        ' installed. Uninstall it before installing this one."/>',
        # The two packages write the same class, ProgID and interface keys: only one may be
        # installed, or removing either would unregister the other (docs/deploy.md).
        '    <Upgrade Id="%s">' % UPGRADE_CODES[other],
        '      <UpgradeVersion OnlyDetect="yes" Minimum="0.0.0" IncludeMinimum="yes"'
        ' Property="%s"/>' % OTHER_FOUND,
        '    </Upgrade>',
        '    <Condition Message=%s>Installed OR NOT %s</Condition>'
        % (quoteattr("%s is installed. Uninstall it before installing %s."
                     % (PRODUCT_NAMES[other], PRODUCT_NAMES[platform])), OTHER_FOUND),
        '    <Property Id="ARPNOMODIFY" Value="1"/>',
        '    <Property Id="ARPCOMMENTS" Value="Automation server Korvane.QuandrelCom"/>',
        '    <Property Id="REBOOT" Value="ReallySuppress"/>',
        '    <Directory Id="TARGETDIR" Name="SourceDir">',
        '      <Directory Id="%s">' % ("ProgramFiles64Folder" if server64 else "ProgramFilesFolder"),
        '        <Directory Id="INSTALLDIR" Name="Korvane QuandrelCom">',
    ]
    refs = []
    for name in FILES:
        ident = "File_" + name.replace(".", "_")
        lines += [
            '          <Component Id="C%s" Guid="%s" Win64="%s">'
            % (ident, guid("file", platform, name), "yes" if server64 else "no"),
            # wixl takes sources relative to the folder it runs in: the stage.
            '            <File Id="%s" Name="%s" Source="%s" KeyPath="yes"/>' % (ident, name, name),
        ]
        if name == "QuandrelCom.exe":
            lines.append("            <CreateFolder/>")  # the folder MsiLockPermissionsEx locks
        lines += [
            "          </Component>",
        ]
        refs.append("C" + ident)
    lines += ["        </Directory>", "      </Directory>", "    </Directory>"]

    # The registration, as /RegServer writes it: the class, ProgID and interface in both views
    # (HKMU: the machine's Software\Classes, or the user's in a per-user installation); the AppID
    # only machine-wide, where COM reads it; the type library entry in the server's own view.
    lines.append('    <DirectoryRef Id="INSTALLDIR">')
    groups = [
        ("RegEvery64", True, "HKMU", "every"),
        ("RegEvery32", False, "HKMU", "every"),
        ("RegMachine64", True, "HKLM", "machine"),
        ("RegMachine32", False, "HKLM", "machine"),
        ("RegTypeLib", server64, "HKMU", "typelib"),
    ]
    machine_refs = []
    for ident, win64, root, where in groups:
        chosen = [r for r in rows if r[0] == where]
        if not chosen:
            continue
        lines += registry_component(ident, guid("registry", platform, ident), win64, root, chosen)
        (machine_refs if where == "machine" else refs).append(ident)
    lines.append("    </DirectoryRef>")

    lines.append('    <Feature Id="Complete" Title="QuandrelCom" Level="1">')
    lines += ['      <ComponentRef Id="%s"/>' % r for r in refs + machine_refs]
    lines += ["    </Feature>", "  </Product>", "</Wix>", ""]
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines))

    # What wixl 0.101 cannot author or gets wrong, as msibuild arguments (one call per line,
    # tab-separated) run on its package:
    # - a per-user installation (ALLUSERS empty) leaves the AppID out, as /RegServerPerUser does
    #   (wixl has no component conditions);
    # - HKMU is -1 in the Registry table (wixl writes 4, which no installer knows);
    # - binary data is marked "#x" (wixl writes it bare, which makes it a text value);
    # - the package code is derived from the content (wixl makes a random one);
    # - the lock of a custom folder (MsiLockPermissionsEx: wixl knows no permissions; unlike
    #   LockPermissions it takes a condition and an inherited, protected access list).
    fixups = ["-q\tUPDATE `Component` SET `Condition` = 'ALLUSERS' WHERE `Component` = '%s'"
              % ident for ident in machine_refs]
    fixups.append("-q\tUPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4")
    for data in sorted({r[4] for r in rows if r[3] == "binary"}):
        fixups.append("-q\tUPDATE `Registry` SET `Value` = '#x%s' WHERE `Value` = '%s'"
                      % (data, data))
    fixups += [
        "-q\tCREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL,"
        " `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` LONGCHAR NOT NULL,"
        " `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)",
        "-q\tINSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`,"
        " `SDDLText`, `Condition`) VALUES ('LockInstallFolder', 'INSTALLDIR', 'CreateFolder',"
        " '%s', '%s')" % (LOCK_SDDL, LOCK_CONDITION),
    ]
    fixups.append("-s\tKorvane QuandrelCom %s, %s-bit automation server\tKorvane\tx64;1033\t%s"
                  % (version, bits, guid("package", platform, version, digest)))
    with open(args.fixups, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(fixups) + "\n")


if __name__ == "__main__":
    main()
