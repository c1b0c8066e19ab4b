#!/usr/bin/env python3
"""Writes picture files that cost far more than their size says, into FOLDER:

bomb-*  small files that honestly decode to a SIDE x SIDE picture (by default
        16384, 2^28 pixels; a multiple of 128),
lie-*   headers that declare a large picture that the file cannot hold.

    make-bombs.py FOLDER [SIDE]

Prints one line per file: its name and the picture it declares.
"""
import os
import struct
import sys
import zlib

SIDE = int(sys.argv[2]) if len(sys.argv) > 2 else 16384


def lzw_codes(codes, width):
    """Packs LZW codes of a fixed width, least significant bit first."""
    bits = 0
    count = 0
    out = bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    return bytes(out)


def gif(screen, frame, interlaced, lzw):
    data = b"GIF89a" + struct.pack("<HHBBB", screen[0], screen[1], 0x80, 0, 0)
    data += b"\x00\x00\x00\xff\xff\xff"  # two colours: black, white
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, frame[0], frame[1], 0x40 if interlaced else 0)
    data += b"\x02" + bytes([len(lzw)]) + lzw + b"\x00\x3b"
    return data


def bmp_header(width, height, bits, compression, palette, data_bytes):
    offset = 14 + 40 + len(palette)
    return (b"BM" + struct.pack("<IHHI", offset + data_bytes, 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, data_bytes, 0, 0,
                          len(palette) // 4, 0)
            + palette)


def png(width, height, color_type, idat):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


def png_zero_rows(width, height):
    """Deflated rows of black RGB pixels, filter type 0, made piece by piece."""
    packer = zlib.compressobj(9)
    row = bytes(1 + 3 * width)
    parts = [packer.compress(row * 64) for _ in range(height // 64)]
    parts.append(packer.flush())
    return b"".join(parts)


def tiff(width, height, entries_extra, data, bits=8, samples=3, compression=1, photometric=2):
    """A little-endian one-strip TIFF: header, data, then the directory."""
    data_offset = 8
    ifd_offset = data_offset + len(data) + (len(data) & 1)
    entries = [
        (256, 4, width), (257, 4, height), (258, 3, bits), (259, 3, compression), (262, 3, photometric),
        (273, 4, data_offset), (277, 3, samples), (278, 4, height), (279, 4, len(data)),
    ] + entries_extra
    entries.sort()
    out = b"II*\x00" + struct.pack("<I", ifd_offset) + data + (b"\x00" if len(data) & 1 else b"")
    out += struct.pack("<H", len(entries))
    for tag, kind, value in entries:
        if kind == 3:
            out += struct.pack("<HHIHH", tag, kind, 1, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, 1, value)
    return out + b"\x00\x00\x00\x00"


def g4_white_rows(rows):
    """CCITT G4 rows that repeat the white line above them: one V0 code (a 1) each, then EOFB."""
    bits = "1" * rows + "000000000001" * 2
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def psd(width, height, channels_data, counts, compression):
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, width, 8, 3)
    return header + struct.pack(">I", 0) + struct.pack(">I", 0) + struct.pack(">I", 0) \
        + struct.pack(">H", compression) + counts + channels_data


def sgi(width, height, rle, body):
    header = struct.pack(">HBBHHHH", 474, 1 if rle else 0, 1, 3, width, height, 3)
    header += struct.pack(">II", 0, 255) + bytes(4) + bytes(80) + struct.pack(">I", 0)
    return header + bytes(512 - len(header)) + body


def rla(full, active, offsets, records):
    """A byte-sample RGB RLA: header, scanline table (bottom first), records."""
    header = struct.pack(">8h", full[0], full[1], full[2], full[3], active[0], active[1], active[2], active[3])
    header += struct.pack(">HHHHHH", 0, 0, 3, 0, 0, 0xFFFE)
    header += bytes(658 - len(header)) + struct.pack(">HHHHH", 8, 0, 8, 0, 8)
    header += bytes(740 - len(header))
    return header + b"".join(struct.pack(">I", o) for o in offsets) + records


def flc(width, height, chunks):
    """An Animator Pro cel: the FLC header, then one frame of the given chunks."""
    frame_body = b"".join(struct.pack("<IH", 6 + len(body), kind) + body for kind, body in chunks)
    frame = struct.pack("<IHH8x", 16 + len(frame_body), 0xF1FA, len(chunks)) + frame_body
    header = struct.pack("<IHHHHHH", 128 + len(frame), 0xAF12, 1, width, height, 8, 3)
    header += bytes(80 - len(header)) + struct.pack("<II", 128, 128 + len(frame))
    return header + bytes(128 - len(header)) + frame


def psp_block(kind, body):
    return b"~BK\0" + struct.pack("<HI", kind, len(body)) + body


def psp_composite(width, height, planes):
    """A version 6 Paint Shop Pro file whose one full composite holds the
    given zlib-packed 8-bit planes (red, green, blue)."""
    attributes = struct.pack("<iidBHHHIBIiHI", width, height, 72.0, 1, 2, 24, 1, 1 << 24, 0, 0, 0, 1, 0)
    out = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0") + struct.pack("<HH", 6, 0)
    out += psp_block(0, struct.pack("<I", 4 + len(attributes)) + attributes)
    composite_attributes = struct.pack("<IiiHHHIH", 24, width, height, 24, 2, 1, 1 << 24, 0)
    channels = b"".join(psp_block(5, struct.pack("<IIIHH", 16, len(data), width * height, 8, kind) + data)
                        for kind, data in zip((1, 2, 3), planes))
    image = psp_block(9, struct.pack("<IHH", 8, 1, 3) + channels)
    bank = struct.pack("<II", 8, 1) + psp_block(17, composite_attributes) + image
    return out + psp_block(16, bank)


def zlib_zeros(count):
    packer = zlib.compressobj(9)
    chunk = bytes(1 << 20)
    parts = [packer.compress(chunk) for _ in range(count >> 20)]
    parts.append(packer.compress(bytes(count & ((1 << 20) - 1))))
    parts.append(packer.flush())
    return b"".join(parts)


def ico(entry, width, height):
    """An icon directory of one image."""
    return struct.pack("<HHHBBBBHHII", 0, 1, 1, width & 0xFF, height & 0xFF, 0, 0, 1, 32, len(entry), 22) + entry


def fax_white_rows(rows):
    """One-dimensional G3 lines of 2592 white pixels (EOL, makeup 2560, white 32), then RTC."""
    bits = ("000000000001" + "000000011111" + "00011011") * rows + "000000000001" * 6
    bits += "0" * (-len(bits) % 8)
    return int(bits, 2).to_bytes(len(bits) // 8, "big")


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    made = []

    def write(name, data, declared):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        made.append((name, declared))

    # A 1x1 frame on a 16384x16384 screen: clear, index 0, end, in 3-bit codes.
    write("bomb-screen.gif", gif((SIDE, SIDE), (1, 1), False, lzw_codes([4, 0, 5], 3)), (SIDE, SIDE))
    # Run-length data that ends the picture at once: every pixel is index 0.
    palette = b"\x00\x00\x00\x00"
    write("bomb-rle8.bmp", bmp_header(SIDE, SIDE, 8, 1, palette, 2) + b"\x00\x01", (SIDE, SIDE))
    # One V0 code a row: 2 KB of Group 4.
    g4 = g4_white_rows(SIDE)
    write("bomb-g4.tif", tiff(SIDE, SIDE, [(293, 4, 0)], g4, bits=1, samples=1, compression=4, photometric=0),
          (SIDE, SIDE))
    write("bomb-deflate.png", png(SIDE, SIDE, 2, png_zero_rows(SIDE, SIDE)), (SIDE, SIDE))
    # Runs of 63 zero bytes over three planes a line.
    pcx_header = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, SIDE - 1, SIDE - 1, 72, 72) + bytes(48)
    pcx_header += struct.pack("<BBHH", 0, 3, SIDE, 1) + bytes(128 - 70)
    runs = (SIDE * 3 * SIDE + 62) // 63
    write("bomb-rle.pcx", pcx_header + b"\xff\x00" * runs, (SIDE, SIDE))
    # PackBits rows of 128 runs of 128 zero bytes.
    row = b"\x81\x00" * (SIDE // 128)
    counts = struct.pack(">H", len(row)) * (3 * SIDE)
    write("bomb-packbits.psd", psd(SIDE, SIDE, row * (3 * SIDE), counts, 1), (SIDE, SIDE))
    # Truevision run-length packets of 128 black pixels.
    tga_header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, SIDE, SIDE, 24, 0x20)
    write("bomb-rle.tga", tga_header + b"\xff\x00\x00\x00" * (SIDE * SIDE // 128), (SIDE, SIDE))
    # Every row of every channel points at the same run-length row.
    row_at = 512 + 2 * 4 * 3 * SIDE
    sgi_row = b"\x7f\x00" * (SIDE // 127) + bytes([SIDE % 127, 0, 0])
    tables = struct.pack(">I", row_at) * (3 * SIDE) + struct.pack(">I", len(sgi_row)) * (3 * SIDE)
    write("bomb-rle.sgi", sgi(SIDE, SIDE, True, tables + sgi_row), (SIDE, SIDE))
    # A raw pixel map whose raster is a hole in the file: 768 MiB that take no disk.
    ppm = b"P6\n%d %d\n255\n" % (SIDE, SIDE)
    with open(os.path.join(folder, "bomb-sparse.ppm"), "wb") as f:
        f.write(ppm)
        f.truncate(len(ppm) + 3 * SIDE * SIDE)
    made.append(("bomb-sparse.ppm", (SIDE, SIDE)))

    # Metafiles that honestly draw (next to) nothing over SIDE x SIDE pixels:
    # only the end record; and one clip kept in four thousand saved states.
    placeable = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, SIDE, SIDE, 96, 0)
    placeable += struct.pack("<H", 0)  # checksum, not checked

    def wmf(records):
        end = struct.pack("<IH", 3, 0)
        return placeable + struct.pack("<HHHIHIH", 1, 9, 0x300, 9 + (len(records) + 6) // 2, 0, 7, 0) + records + end

    write("bomb-empty.wmf", wmf(b""), (SIDE, SIDE))
    clip = struct.pack("<IHhhhh", 7, 0x0416, SIDE // 2, SIDE // 2, 1, 1)
    saves = struct.pack("<IH", 3, 0x001E) * 4000
    dot = struct.pack("<IHIhh", 7, 0x041F, 0x0000FF, 2, 2)
    write("bomb-saved-clips.wmf", wmf(clip + saves + dot), (SIDE, SIDE))
    # A 100x100 picture that blits a SIDE x SIDE run-length bitmap of blank lines.
    dib = struct.pack("<IiiHHIIiiII", 40, SIDE, SIDE, 1, 8, 1, 0, 0, 0, 1, 0) + bytes(4)
    dib += b"\x00\x00" * (SIDE - 1) + b"\x00\x01"
    blit = struct.pack("<IHhhhhhhhh", 0x00CC0020, 0, SIDE, SIDE, 0, 0, 100, 100, 0, 0) + dib
    blit = struct.pack("<IH", 3 + len(blit) // 2, 0x0F43) + blit
    small = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 100, 100, 96, 0) + struct.pack("<H", 0)
    small += struct.pack("<HHHIHIH", 1, 9, 0x300, 9 + (len(blit) + 6) // 2, 0, len(blit) // 2, 0)
    write("bomb-drawn-small.wmf", small + blit + struct.pack("<IH", 3, 0), (100, 100))


    # A 1x1 active window in a SIDE x SIDE frame: the rest is outside, black.
    rgb_record = struct.pack(">H2s", 2, b"\x00\x00") * 3
    write("bomb-window.rla", rla((0, SIDE - 1, 0, SIDE - 1), (0, 0, 0, 0), [744], rgb_record), (SIDE, SIDE))
    # A cel whose first frame has no chunks: colour 0 everywhere.
    write("bomb-empty.cel", flc(SIDE, SIDE, []), (SIDE, SIDE))
    # Byte runs of 127 (and one of the rest) on every line.
    brun_line = b"\x00" + b"\x7f\x00" * (SIDE // 127) + bytes([SIDE % 127, 0])
    write("bomb-brun.cel", flc(SIDE, SIDE, [(15, brun_line * SIDE)]), (SIDE, SIDE))
    # One full line of runs, then lines that end at once (left at index 0).
    cut_line = b"\xff\x00" * (SIDE // 127) + bytes([0x80 | SIDE % 127, 0, 0])
    cut_header = struct.pack("<HHH", SIDE, SIDE, 0)
    write("bomb-runs.cut", cut_header + struct.pack("<H", len(cut_line)) + cut_line + b"\x01\x00\x00" * (SIDE - 1),
          (SIDE, SIDE))
    # Three zlib planes of zeros: a black composite.
    plane = zlib_zeros(SIDE * SIDE)
    write("bomb-lz77.psp", psp_composite(SIDE, SIDE, [plane] * 3), (SIDE, SIDE))
    # A DOS EPS whose preview is the Group 4 TIFF above.
    g4_tiff = tiff(SIDE, SIDE, [(293, 4, 0)], g4, bits=1, samples=1, compression=4, photometric=0)
    write("bomb-g4.eps", struct.pack("<4sIIIIIIH", b"\xc5\xd0\xd3\xc6", 30, 0, 0, 0, 30, len(g4_tiff), 0xFFFF) + g4_tiff,
          (SIDE, SIDE))
    # An icon whose one image is the deflated PNG of black rows.
    write("bomb-png.ico", ico(png(SIDE, SIDE, 2, png_zero_rows(SIDE, SIDE)), 0, 0), (SIDE, SIDE))
    # A headerless G3 fax of white lines, as many as the pixel and side limits allow.
    fax_rows = min(SIDE * SIDE // 2592, 65535)
    write("bomb-white.fax", fax_white_rows(fax_rows), (2592, fax_rows))

    # Headers that lie: far more pixels than the bytes that follow could give.
    wide, high = 65535, 4096
    write("lie-69bytes.png", png(wide, high, 2, zlib.compress(bytes(7))), (wide, high))
    write("lie-138bytes.tif", tiff(wide, high, [], bytes(16)), (wide, high))
    write("lie-raw.bmp", bmp_header(SIDE, SIDE, 24, 0, b"", 3 * SIDE * SIDE)[:54] + bytes(64), (SIDE, SIDE))
    write("lie-rle.tga", tga_header + b"\xff\x00\x00\x00" * 4, (SIDE, SIDE))
    write("lie-rle.pcx", pcx_header + b"\xff\x00" * 8, (SIDE, SIDE))
    write("lie-packbits.psd", psd(SIDE, SIDE, b"", counts[:64], 1), (SIDE, SIDE))
    write("lie-verbatim.sgi", sgi(SIDE, SIDE, False, bytes(64)), (SIDE, SIDE))
    write("lie-raw.ppm", ppm + bytes(64), (SIDE, SIDE))
    write("lie-interlaced.gif", gif((SIDE, SIDE), (SIDE, SIDE), True, lzw_codes([4, 0, 5], 3)), (SIDE, SIDE))
    # A placeable metafile of SIDE x SIDE pixels whose first record claims more
    # bytes than the file has.
    wmf_header = struct.pack("<HHHIHIH", 1, 9, 0x300, 9 + 3, 0, 3, 0)
    write("lie-records.wmf", placeable + wmf_header + struct.pack("<IH", 1000, 0x0418), (SIDE, SIDE))
    write("lie-table.rla", rla((0, SIDE - 1, 0, SIDE - 1), (0, SIDE - 1, 0, SIDE - 1), [], bytes(64)), (SIDE, SIDE))
    write("lie-brun.cel", flc(SIDE, SIDE, [(15, brun_line * 4)]), (SIDE, SIDE))
    pro_pic = struct.pack("<IHHHhhIB", 64 + 6 + 16, 0x9500, SIDE, SIDE, 0, 0, 0, 8)
    write("lie-pixels.pic", pro_pic + bytes(64 - len(pro_pic)) + struct.pack("<IH", 6 + 16, 1) + bytes(16),
          (SIDE, SIDE))
    write("lie-lines.cut", cut_header + struct.pack("<H", len(cut_line)) + cut_line + b"\x01\x00\x00" * 4,
          (SIDE, SIDE))
    write("lie-lz77.psp", psp_composite(SIDE, SIDE, [zlib.compress(bytes(64))] * 3), (SIDE, SIDE))
    pcd = b"\xff" * 32 + bytes(2048 - 32) + b"PCD_IPI" + bytes(64)
    write("lie-short.pcd", pcd, (768, 512))
    write("lie-hex.eps", b"%%!PS-Adobe-3.0 EPSF-3.0\n%%%%BeginPreview: %d %d 1 %d\n%% 00ff\n%%%%EndPreview\n"
          % (SIDE, SIDE, SIDE), (SIDE, SIDE))
    write("lie-png.ico", ico(png(wide, high, 2, zlib.compress(bytes(7))), 0, 0), (wide, high))
    dib = struct.pack("<IiiHHIIiiII", 40, SIDE, 2 * SIDE, 1, 1, 0, 0, 0, 0, 0, 0) + bytes(8 + 64)
    write("lie-dib.ico", ico(dib, 0, 0), (SIDE, SIDE))
    # Two gigabytes of nothing named like a photo.
    with open(os.path.join(folder, "lie-sparse.jpg"), "wb") as f:
        f.truncate(2 << 30)
    made.append(("lie-sparse.jpg", (0, 0)))
    # And a PostScript file of two gigabytes of nothing after a preview's header.
    with open(os.path.join(folder, "lie-sparse.eps"), "wb") as f:
        f.write(b"%%!PS-Adobe-3.0 EPSF-3.0\n%%%%BeginPreview: %d %d 8 %d\n" % (SIDE, SIDE, SIDE))
        f.truncate(2 << 30)
    made.append(("lie-sparse.eps", (SIDE, SIDE)))

    for name, (w, h) in made:
        print(name, w, h)


if __name__ == "__main__":
    main()
