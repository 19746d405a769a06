#!/usr/bin/env python3
"""Reads an MSIX package back as Windows would, without the packer's code, and says what is wrong:
the ZIP (no folder entries, store or deflate only, no data descriptors, each local header agreeing
with its central one), the parts' order, the block map (every part but itself, the content types
and the signature; sizes, local header sizes, every block's hash recomputed and, in a deflated
part, every block decompressed on its own), the content types, and the manifest's identity and
command class.

    msix_test.py PACKAGE NAME PUBLISHER CLASS_ID
"""
import base64
import hashlib
import math
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib

BLOCK = 64 * 1024
BLOCK_MAP_NS = "{http://schemas.microsoft.com/appx/2010/blockmap}"
TYPES_NS = "{http://schemas.openxmlformats.org/package/2006/content-types}"
MANIFEST_NS = {
    "m": "http://schemas.microsoft.com/appx/manifest/foundation/windows10",
    "uap10": "http://schemas.microsoft.com/appx/manifest/uap/windows10/10",
    "desktop4": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/4",
    "desktop5": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/5",
    "com": "http://schemas.microsoft.com/appx/manifest/com/windows10",
}
ENDS = ["AppxManifest.xml", "AppxBlockMap.xml", "[Content_Types].xml"]
SIGNATURE = "AppxSignature.p7x"

problems = []


def check(condition, what):
    if not condition:
        problems.append(what)
    return condition


def raw_local_header(raw, info):
    fields = struct.unpack_from("<IHHHHHIIIHH", raw, info.header_offset)
    name_length, extra_length = fields[9], fields[10]
    name = raw[info.header_offset + 30:info.header_offset + 30 + name_length].decode("ascii")
    return fields, name, 30 + name_length + extra_length


def read_zip(path):
    with open(path, "rb") as file:
        raw = file.read()
    package = zipfile.ZipFile(path)
    infos = package.infolist()
    for info in infos:
        check(not info.filename.endswith("/"), "a folder entry: " + info.filename)
        check(info.compress_type in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED),
              "%s: compression %d" % (info.filename, info.compress_type))
        check(not info.flag_bits & 0x8, info.filename + ": a data descriptor")
        fields, name, _ = raw_local_header(raw, info)
        signature, _, flags, method, _, _, crc, packed, size = fields[:9]
        check(signature == 0x04034B50 and name == info.filename and flags == info.flag_bits and
              method == info.compress_type and crc == info.CRC and
              packed == info.compress_size and size == info.file_size,
              info.filename + ": the local header differs from the central one")
    return raw, package, infos


def check_order(names):
    signed = names[-1:] == [SIGNATURE]
    body = names[:-1] if signed else names
    payload = body[:-len(ENDS)]
    check(body[-len(ENDS):] == ENDS, "the package does not end with %s: %s" % (ENDS, names))
    check(payload == sorted(payload, key=str.lower), "the payload is out of order: %s" % payload)
    return payload


def check_block_map(raw, package, infos):
    by_name = {info.filename: info for info in infos}
    root = ElementTree.fromstring(package.read("AppxBlockMap.xml"))
    check(root.tag == BLOCK_MAP_NS + "BlockMap", "the block map's root: " + root.tag)
    check(root.get("HashMethod") == "http://www.w3.org/2001/04/xmlenc#sha256",
          "the block map's hash method: %s" % root.get("HashMethod"))
    listed = []
    for element in root.findall(BLOCK_MAP_NS + "File"):
        name = element.get("Name").replace("\\", "/")
        listed.append(name)
        info = by_name.get(name)
        if not check(info is not None, "the block map names a part not there: " + name):
            continue
        data = package.read(name)
        _, _, header_size = raw_local_header(raw, info)
        check(int(element.get("Size")) == info.file_size, name + ": Size")
        check(int(element.get("LfhSize")) == header_size, name + ": LfhSize")
        blocks = element.findall(BLOCK_MAP_NS + "Block")
        check(len(blocks) == math.ceil(len(data) / BLOCK), name + ": number of blocks")
        stored = raw[info.header_offset + header_size:
                     info.header_offset + header_size + info.compress_size]
        at = 0
        for k, block in enumerate(blocks):
            piece = data[k * BLOCK:(k + 1) * BLOCK]
            check(block.get("Hash") == base64.b64encode(hashlib.sha256(piece).digest()).decode(),
                  "%s: block %d's hash" % (name, k))
            if info.compress_type == zipfile.ZIP_DEFLATED:
                size = int(block.get("Size", "-1"))
                try:
                    alone = zlib.decompressobj(-15).decompress(stored[at:at + size])
                except zlib.error:
                    alone = None
                check(alone == piece, "%s: block %d does not decompress on its own" % (name, k))
                at += size
            else:
                check(block.get("Size") is None, "%s: a stored block with a Size" % name)
        if info.compress_type == zipfile.ZIP_DEFLATED:
            check(at == info.compress_size, name + ": the blocks' sizes do not add up")
    expected = [info.filename for info in infos
                if info.filename not in ("AppxBlockMap.xml", "[Content_Types].xml", SIGNATURE)]
    check(listed == expected, "the block map lists %s, not %s" % (listed, expected))


def check_content_types(package, payload):
    root = ElementTree.fromstring(package.read("[Content_Types].xml"))
    defaults = {e.get("Extension").lower() for e in root.findall(TYPES_NS + "Default")}
    overrides = {e.get("PartName"): e.get("ContentType") for e in root.findall(TYPES_NS + "Override")}
    for name in payload:
        check(name.rsplit(".", 1)[-1].lower() in defaults, "no content type for " + name)
    check(overrides.get("/AppxManifest.xml") == "application/vnd.ms-appx.manifest+xml",
          "the manifest's content type")
    check(overrides.get("/AppxBlockMap.xml") == "application/vnd.ms-appx.blockmap+xml",
          "the block map's content type")


def check_manifest(package, name, publisher, class_id):
    root = ElementTree.fromstring(package.read("AppxManifest.xml"))
    identity = root.find("m:Identity", MANIFEST_NS)
    check(identity is not None and identity.get("Name") == name, "Identity Name")
    check(identity is not None and identity.get("Publisher") == publisher, "Identity Publisher")
    check(root.findtext("m:Properties/uap10:AllowExternalContent", namespaces=MANIFEST_NS) == "true",
          "external content is not allowed")
    classes = [c.get("Id") for c in root.iterfind(".//com:SurrogateServer/com:Class", MANIFEST_NS)]
    check(classes == [class_id], "the COM classes: %s" % classes)
    verbs = {t.get("Type"): [v.get("Clsid") for v in t.findall("desktop5:Verb", MANIFEST_NS)]
             for t in root.iterfind(".//desktop4:FileExplorerContextMenus/desktop5:ItemType",
                                    MANIFEST_NS)}
    check(verbs == {kind: [class_id] for kind in ("*", "Directory", "Directory\\Background")},
          "the context menu verbs: %s" % verbs)


def main(path, name, publisher, class_id):
    raw, package, infos = read_zip(path)
    names = [info.filename for info in infos]
    payload = check_order(names)
    check_block_map(raw, package, infos)
    check_content_types(package, payload)
    check_manifest(package, name, publisher, class_id)
    for problem in problems:
        print("FAIL: %s: %s" % (path, problem))
    if not problems:
        print("read back %s: %d parts (%s), every block's hash recomputed"
              % (path, len(names), ", ".join(names)))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
