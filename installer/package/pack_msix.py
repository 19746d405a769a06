#!/usr/bin/env python3
"""Packs a folder holding AppxManifest.xml and the files it names into an MSIX package, as the
Windows SDK's MakeAppx does, without it: a ZIP of raw-deflated parts, the payload first
(ascending, letter case ignored), then AppxManifest.xml, AppxBlockMap.xml and
[Content_Types].xml. Each 64 KiB block of a part is compressed on its own (the compressor's
state is flushed after it); the block map gives each part but itself and the content types its
size, the size of its local header, and each block's SHA-256 (of the uncompressed bytes) and
compressed size. No folder entries, no data descriptors, one fixed time stamp: the same folder
always gives the same bytes. (Stored parts would do as well for Windows, but osslsigncode 2.9
rewrites [Content_Types].xml deflated under a stored entry's header when it signs.)

    pack_msix.py FOLDER OUT.msix
"""
import base64
import hashlib
import os
import struct
import sys
import zlib

BLOCK = 64 * 1024
DOS_DATE = (0 << 9) | (1 << 5) | 1  # 1980-01-01, 00:00
CONTENT_TYPES = {
    "png": "image/png",
    "jpg": "image/jpeg",
    "jpeg": "image/jpeg",
    "gif": "image/gif",
    "ico": "image/vnd.microsoft.icon",
    "dll": "application/x-msdownload",
    "exe": "application/x-msdownload",
}
MANIFEST = "AppxManifest.xml"
BLOCK_MAP = "AppxBlockMap.xml"
TYPES = "[Content_Types].xml"


def compressed_blocks(data):
    """The part's 64 KiB blocks, each deflated on its own; together one raw deflate stream."""
    compressor = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -15)
    blocks = []
    for at in range(0, len(data), BLOCK):
        last = at + BLOCK >= len(data)
        blocks.append(compressor.compress(data[at:at + BLOCK]) +
                      compressor.flush(zlib.Z_FINISH if last else zlib.Z_FULL_FLUSH))
    return blocks or [compressor.flush(zlib.Z_FINISH)]


def local_header(name, data, packed):
    raw = name.encode("ascii")
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, DOS_DATE,
                       zlib.crc32(data), len(packed), len(data), len(raw), 0) + raw


def central_header(name, data, packed, offset):
    raw = name.encode("ascii")
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, DOS_DATE,
                       zlib.crc32(data), len(packed), len(data), len(raw), 0, 0, 0, 0, 0,
                       offset) + raw


def block_map(parts):
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             '<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap" '
             'HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for name, data in parts:
        blocks = compressed_blocks(data)
        lines.append('<File Name="%s" Size="%d" LfhSize="%d">'
                     % (name.replace("/", "\\"), len(data),
                        len(local_header(name, data, b"".join(blocks)))))
        if data:
            for k, block in enumerate(blocks):
                digest = hashlib.sha256(data[k * BLOCK:(k + 1) * BLOCK]).digest()
                lines.append('<Block Hash="%s" Size="%d"/>'
                             % (base64.b64encode(digest).decode("ascii"), len(block)))
        lines.append("</File>")
    lines.append("</BlockMap>")
    return "\r\n".join(lines).encode("utf-8")


def content_types(names):
    extensions = sorted({name.rsplit(".", 1)[-1].lower() for name in names if "." in name})
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">']
    for extension in extensions:
        lines.append('<Default Extension="%s" ContentType="%s"/>'
                     % (extension, CONTENT_TYPES.get(extension, "application/octet-stream")))
    lines.append('<Override PartName="/%s" ContentType="application/vnd.ms-appx.manifest+xml"/>'
                 % MANIFEST)
    lines.append('<Override PartName="/%s" ContentType="application/vnd.ms-appx.blockmap+xml"/>'
                 % BLOCK_MAP)
    lines.append("</Types>")
    return "\r\n".join(lines).encode("utf-8")


def main(folder, out):
    payload = []
    for root, _, files in os.walk(folder):
        for file in files:
            name = os.path.relpath(os.path.join(root, file), folder).replace(os.sep, "/")
            if name not in (MANIFEST, BLOCK_MAP, TYPES, "AppxSignature.p7x"):
                payload.append(name)
    if not os.path.isfile(os.path.join(folder, MANIFEST)):
        sys.exit("pack_msix: no %s in %s" % (MANIFEST, folder))
    parts = []
    for name in sorted(payload, key=str.lower) + [MANIFEST]:
        with open(os.path.join(folder, name), "rb") as file:
            parts.append((name, file.read()))
    parts.append((BLOCK_MAP, block_map(parts)))
    parts.append((TYPES, content_types(payload)))

    body, central = b"", b""
    for name, data in parts:
        packed = b"".join(compressed_blocks(data))
        central += central_header(name, data, packed, len(body))
        body += local_header(name, data, packed) + packed
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(parts), len(parts), len(central),
                      len(body), 0)
    with open(out + ".partial", "wb") as file:
        file.write(body + central + end)
    os.replace(out + ".partial", out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
