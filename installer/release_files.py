#!/usr/bin/env python3
"""Writes what a release publishes besides the installer packages, for the files given (the
build's, or scripts/sign.sh's signed ones): the portable zip, Scoop's manifest and winget's
manifests, each naming the files and carrying their SHA-256.

    release_files.py OUT_FOLDER URL_BASE HOMEPAGE VERSION DLL EXE DEFAULTS MSIX README LICENSE
                     MACHINE_MSI MACHINE_ENV USER_MSI USER_ENV

OUT_FOLDER gets Velmar-VERSION-x64.zip, velmar.json and winget/manifests/v/Velmar/
ShellExtensions/VERSION/; URL_BASE is the address of the release's folder, where those files
are downloaded from; HOMEPAGE the project's.
"""
import hashlib
import json
import os
import sys
import zipfile

IDENTIFIER = "Velmar.ShellExtensions"
DESCRIPTION = ("Python here: a console with the Python interpreter you choose, opened from "
               "Explorer's context menu in the folder you right-clicked")


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest().upper()


def env_value(path, key):
    with open(path, encoding="utf-8") as file:
        for line in file:
            name, _, value = line.rstrip("\n").partition("=")
            if name == key:
                return value
    sys.exit("release_files: %s names no %s" % (path, key))


def write_zip(path, members):
    """The files at the zip's root, in the order given, with one fixed time stamp."""
    with zipfile.ZipFile(path + ".partial", "w", zipfile.ZIP_DEFLATED) as archive:
        for name, source in members:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(source, "rb") as file:
                archive.writestr(info, file.read())
    os.replace(path + ".partial", path)


def scoop_manifest(version, url, homepage, digest):
    def run(argument, unless_persisted=False):
        command = ("$p = Start-Process -FilePath \"$dir\\Velmar.exe\" -ArgumentList '%s' -Wait "
                   "-NoNewWindow -PassThru; if ($p.ExitCode -ne 0) { throw \"Velmar.exe %s "
                   "failed ($($p.ExitCode))\" }" % (argument, argument))
        # Scoop persists a file that is not there as a folder: the settings are made first.
        if unless_persisted:
            command = "if (!(Test-Path \"$persist_dir\\config.cfg\")) { %s }" % command
        return [command]
    return {
        "version": version,
        "description": DESCRIPTION,
        "homepage": homepage,
        "license": "MIT",
        "architecture": {"64bit": {"url": url, "hash": digest.lower()}},
        "bin": "Velmar.exe",
        "persist": "config.cfg",
        "pre_install": run("--install-settings", unless_persisted=True),
        "post_install": run("--register-user"),
        "pre_uninstall": run("--unregister-user"),
    }


def winget_manifests(version, installers):
    """The three files; texts that are free prose are written as double-quoted strings (a JSON
    string is one in YAML too)."""
    header = ("PackageIdentifier: %s\nPackageVersion: %s\n" % (IDENTIFIER, version))
    footer = lambda kind: "ManifestType: %s\nManifestVersion: 1.6.0\n" % kind
    schema = lambda kind: ("# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s"
                           ".1.6.0.schema.json\n" % kind)
    version_file = (schema("version") + header + "DefaultLocale: en-US\n" + footer("version"))
    locale_file = (schema("defaultLocale") + header + "PackageLocale: en-US\n"
                   "Publisher: Velmar Developers\nPackageName: Velmar shell extensions\n"
                   "License: MIT\nShortDescription: %s\n" % json.dumps(DESCRIPTION) +
                   footer("defaultLocale"))
    entries = "".join("- Architecture: x64\n  InstallerType: wix\n  Scope: %s\n"
                      "  InstallerUrl: %s\n  InstallerSha256: %s\n  ProductCode: '%s'\n"
                      % installer for installer in installers)
    installer_file = (schema("installer") + header + "Installers:\n" + entries +
                      footer("installer"))
    return {IDENTIFIER + ".yaml": version_file,
            IDENTIFIER + ".installer.yaml": installer_file,
            IDENTIFIER + ".locale.en-US.yaml": locale_file}


def main(out, url_base, homepage, version, dll, exe, defaults, msix, readme, license_file, machine_msi,
         machine_env, user_msi, user_env):
    os.makedirs(out, exist_ok=True)
    url_base = url_base.rstrip("/")
    zip_name = "Velmar-%s-x64.zip" % version
    write_zip(os.path.join(out, zip_name),
              [(os.path.basename(dll), dll), ("Velmar.exe", exe),
               ("config.default.cfg", defaults), ("Velmar.msix", msix),
               (os.path.basename(readme), readme), (os.path.basename(license_file), license_file)])
    with open(os.path.join(out, "velmar.json"), "w", encoding="utf-8", newline="\n") as file:
        json.dump(scoop_manifest(version, "%s/%s" % (url_base, zip_name), homepage,
                                 sha256(os.path.join(out, zip_name))), file, indent=4)
        file.write("\n")
    installers = [(scope, "%s/%s" % (url_base, os.path.basename(msi)), sha256(msi),
                   env_value(env, "product_code"))
                  for scope, msi, env in (("machine", machine_msi, machine_env),
                                          ("user", user_msi, user_env))]
    folder = os.path.join(out, "winget", "manifests", "v", "Velmar", "ShellExtensions", version)
    os.makedirs(folder, exist_ok=True)
    for name, text in winget_manifests(version, installers).items():
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="\n") as file:
            file.write(text)


if __name__ == "__main__":
    if len(sys.argv) != 15:
        sys.exit(__doc__)
    main(*sys.argv[1:])
