#!/usr/bin/env python3
"""Checks what a release publishes against the files it names, as a user's package manager would
read it: the portable zip (exactly the programs, the defaults, Windows 11's package, one README and
one LICENSE, nothing else), Scoop's manifest (valid JSON, the zip's version, address and hash,
the hooks that wait for Velmar.exe and check its exit code) and winget's three manifests (valid
YAML, one identifier and version throughout, the MSI's ProductVersion, one installer per scope
with its package's address, hash and ProductCode).

    release_files_test.py FOLDER PROGRAMS_FOLDER MODULE_FILE
FOLDER holds the release's files (build/bin, or build/signed); PROGRAMS_FOLDER the DLL (named
MODULE_FILE), Velmar.exe and Velmar.msix the zip must carry (the same, or the signed ones).
"""
import glob
import hashlib
import json
import os
import re
import subprocess
import sys
import zipfile

import yaml

problems = []


def check(condition, what):
    if not condition:
        problems.append(what)
    return condition


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def msi_properties(path):
    table = subprocess.run(["msiinfo", "export", path, "Property"], check=True,
                           capture_output=True, text=True).stdout
    return dict(line.rstrip("\r").split("\t", 1) for line in table.splitlines()[3:] if "\t" in line)


def check_zip(folder, programs, module):
    zips = glob.glob(os.path.join(folder, "Velmar-*-x64.zip"))
    if not check(len(zips) == 1, "zips in %s: %s" % (folder, zips)):
        return None, None
    path = zips[0]
    version = re.match(r"Velmar-(.+)-x64\.zip$", os.path.basename(path)).group(1)
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        fixed = [module, "Velmar.exe", "config.default.cfg", "Velmar.msix"]
        others = [name for name in names if name not in fixed]
        check(all(name in names for name in fixed), "the zip lacks one of %s: %s" % (fixed, names))
        check(len(others) == 2 and len([n for n in others if n.startswith("README")]) == 1 and
              len([n for n in others if n.startswith("LICENSE")]) == 1,
              "the zip holds, beside the programs: %s" % others)
        check(all("/" not in name for name in names), "the zip has folders: %s" % names)
        for name in (module, "Velmar.exe", "Velmar.msix"):
            with open(os.path.join(programs, name), "rb") as file:
                check(archive.read(name) == file.read(), "the zip's %s is not %s's" % (name, programs))
    return path, version


def check_scoop(folder, zip_path, version):
    with open(os.path.join(folder, "velmar.json"), encoding="utf-8") as file:
        manifest = json.load(file)
    download = manifest.get("architecture", {}).get("64bit", manifest)
    check(manifest.get("version") == version, "Scoop's version: %s" % manifest.get("version"))
    check(download.get("url", "").endswith("/" + os.path.basename(zip_path)),
          "Scoop's url: %s" % download.get("url"))
    check(download.get("hash", "").lower() == sha256(zip_path), "Scoop's hash is not the zip's")
    for key in ("description", "homepage", "license"):
        check(manifest.get(key), "Scoop's %s is missing" % key)
    check(manifest.get("bin") == "Velmar.exe", "Scoop's bin: %s" % manifest.get("bin"))
    check(manifest.get("persist") == "config.cfg", "Scoop's persist: %s" % manifest.get("persist"))
    for hook, argument in (("pre_install", "--install-settings"),
                           ("post_install", "--register-user"),
                           ("pre_uninstall", "--unregister-user")):
        text = " ".join(manifest.get(hook, []))
        check(all(part in text for part in ("Start-Process", "-Wait", "-NoNewWindow", "ExitCode",
                                            "'%s'" % argument)),
              "Scoop's %s does not run Velmar.exe %s and check how it ended: %s"
              % (hook, argument, text))
    check("$persist_dir\\config.cfg" in " ".join(manifest.get("pre_install", [])),
          "Scoop's pre_install makes config.cfg even when one is persisted")


def check_winget(folder, version):
    paths = glob.glob(os.path.join(folder, "winget", "manifests", "v", "Velmar", "ShellExtensions",
                                   "*", "*.yaml"))
    manifests = {}
    for path in paths:
        with open(path, encoding="utf-8") as file:
            try:
                manifests[os.path.basename(path)] = yaml.safe_load(file)
            except yaml.YAMLError as error:
                check(False, "%s is not YAML: %s" % (os.path.basename(path), error))
                manifests[os.path.basename(path)] = {}
    by_type = {m.get("ManifestType"): m for m in manifests.values()}
    if not check(sorted(by_type) == ["defaultLocale", "installer", "version"] and len(paths) == 3,
                 "winget's manifests: %s" % sorted(manifests)):
        return
    for manifest in by_type.values():
        check(manifest.get("PackageIdentifier") == "Velmar.ShellExtensions" and
              manifest.get("PackageVersion") == version and
              manifest.get("ManifestVersion") == "1.6.0",
              "winget's %s manifest names %s %s (%s)"
              % (manifest.get("ManifestType"), manifest.get("PackageIdentifier"),
                 manifest.get("PackageVersion"), manifest.get("ManifestVersion")))
    check(os.path.basename(os.path.dirname(paths[0])) == version, "winget's folder is not the version")
    locale = by_type["defaultLocale"]
    check(locale.get("PackageLocale") == by_type["version"].get("DefaultLocale"),
          "winget's locale is not the version manifest's default one")
    check(locale.get("Publisher") == "Velmar Developers" and
          locale.get("PackageName") == "Velmar shell extensions" and
          locale.get("License") and locale.get("ShortDescription"),
          "winget's defaultLocale: %s" % locale)
    installers = by_type["installer"].get("Installers", [])
    scopes = sorted(installer.get("Scope") for installer in installers)
    check(scopes == ["machine", "user"], "winget's installers' scopes: %s" % scopes)
    for installer in installers:
        name = "Velmar-%s-x64%s.msi" % (version, "-user" if installer.get("Scope") == "user" else "")
        msi = os.path.join(folder, name)
        check(installer.get("Architecture") == "x64" and installer.get("InstallerType") == "wix",
              "winget's %s installer: %s" % (installer.get("Scope"), installer))
        check(str(installer.get("InstallerUrl", "")).endswith("/" + name),
              "winget's %s address: %s" % (installer.get("Scope"), installer.get("InstallerUrl")))
        if not check(os.path.isfile(msi), "no %s beside the manifests" % name):
            continue
        properties = msi_properties(msi)
        check(str(installer.get("InstallerSha256", "")).lower() == sha256(msi),
              "winget's hash of %s is not the file's" % name)
        check(installer.get("ProductCode") == properties.get("ProductCode"),
              "winget's ProductCode of %s: %s, the package's %s"
              % (name, installer.get("ProductCode"), properties.get("ProductCode")))
        check(properties.get("ProductVersion") == version,
              "%s's ProductVersion: %s" % (name, properties.get("ProductVersion")))


def main(folder, programs, module):
    zip_path, version = check_zip(folder, programs, module)
    if zip_path:
        check_scoop(folder, zip_path, version)
        check_winget(folder, version)
    for problem in problems:
        print("FAIL: " + problem)
    if not problems:
        print("%s: the zip, Scoop's and winget's manifests match the files (version %s)"
              % (folder, version))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
