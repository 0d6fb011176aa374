#!/usr/bin/env python3
"""Writes the seed inputs of the playlist, station list, settings, tag-text
and radio-stream targets into the folder given (one sub-folder per target),
the kinds of files the test suite builds: playlists in UTF-8 with and without
a byte-order mark, Latin-1, CR LF / LF / CR line ends, file: URLs and Windows
paths; .pls, .m3u and .xspf station lists (keys in any order and case, #EXTINF
titles, XML entities and CDATA, relative locations, a damaged document, a web
page); wl.ini records (whole, cut short, with a folder) and wavelantern.conf
files; ID3v2 frame bodies in every text encoding, with byte-order marks, odd
lengths and descriptions; radio stream bodies with in-band metadata blocks;
ID3v2 tags and frame bodies holding pictures; CUE sheets."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else "."


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


# Playlists.
put("fuzz_m3u", "utf8-bom-crlf.m3u",
    b"\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - Title\r\na.mp3\r\n\r\nSub/b.mp3\nc.mp3\rM\xC3\xBCsic.mp3\n")
put("fuzz_m3u", "latin1.m3u", b"\xE4-latin.mp3\nM\xFCsik/\xDCber.mp3\nlast.mp3")
put("fuzz_m3u", "urls.m3u",
    b"file:///tmp/a%20b.mp3\nfile:///m/%C3%A4.mp3\nfile://localhost/tmp/x.mp3\n"
    b"file:///C:/x/a.mp3\nfile://server/share/y.mp3\nFILE:relative.mp3\n")
put("fuzz_m3u", "windows.m3u",
    b"Music\\a.mp3\r\nC:Music\\b.mp3\r\nC:\\x\\a.mp3\r\n\\\\server\\share\\c.mp3\r\nsub\\SUB\\B.MP3\r\n")
put("fuzz_m3u", "resolve.m3u", "sub/b.mp3\n./A.MP3\n../Other/C.mp3\n/Sub/B.mp3\n\u00fcber \u00c9T\u00c9.mp3\n".encode())

# wl.ini: the fixed record (defaults, then changed values), a folder, cut short.
def record(gains=(0,) * 10, folder=b"", **v):
    fields = dict(prio=4, top=1, repeat=0, remaining=0, eq=0, vu=0x004040CC, cache=0, fastvu=0,
                  random=0, saver=1, left=155, top_=100, peak=1, autoload=0, bright=50)
    fields.update(v)
    return (bytes([fields["prio"], fields["top"], fields["repeat"], fields["remaining"], fields["eq"]]) +
            struct.pack("<10b", *gains) + struct.pack("<I", fields["vu"]) +
            bytes([fields["cache"], fields["fastvu"], fields["random"], fields["saver"]]) +
            struct.pack("<hh", fields["left"], fields["top_"]) +
            bytes([fields["peak"], fields["autoload"], fields["bright"]]) + folder)


put("fuzz_settings", "wl-defaults.ini", record())
put("fuzz_settings", "wl-folder.ini",
    record(gains=(12, -12, 3, 0, -1, 5, 7, -7, 0, 1), folder="/home/user/M\u00fcsik".encode(), eq=1,
           left=-20, top_=3000, vu=0x00FF8000))
put("fuzz_settings", "wl-short.ini", record()[:17])
put("fuzz_settings", "conf-full.conf",
    b"[Playback]\nResumePlayback=false\nTitlesFromTags=true\n\n[ReplayGain]\nMode=2\nPreampDb=-7.25\n"
    b"PreventClipping=false\n\n[Resume]\nEntry=1234\nPositionMs=3600123\nVolume=37\nWasPlaying=true\n")
put("fuzz_settings", "conf-odd.conf",
    b"; comment\r\n[ReplayGain]\r\nMode = 7\r\nPreampDb=nan\r\n[Resume]\r\nPositionMs=-5\r\nVolume=\"50\"\r\n"
    b"Entry=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\r\n[Playback]\r\nResumePlayback=1\r\nTitlesFromTags=maybe\r\n")

# ID3v2 frame bodies: the first byte picks the frame (low four bits, in the
# harness's order), the tag version (bits 4-5: 2.2, 2.3, 2.4) and the flags
# (0x80 unsynchronised, 0x40 extended header, 0x08 frame unsynchronised).
ids = ["TIT2", "TPE1", "TALB", "TCON", "TRCK", "TYER", "TDRC", "COMM",
       "USLT", "TXXX", "WXXX", "WOAR", "RVA2", "APIC", "PRIV", "TCOM"]


def cfg(frame, major=3, flags=0):
    return bytes([ids.index(frame) | ((major - 2) << 4) | flags])


put("fuzz_id3_text", "tit2-latin1", cfg("TIT2") + b"\x00Caf\xe9 del Mar")
put("fuzz_id3_text", "tpe1-utf16-bom-le", cfg("TPE1") + b"\x01\xff\xfe" + "Bj\u00f6rk".encode("utf-16-le") + b"\x00\x00")
put("fuzz_id3_text", "talb-utf16-bom-be-odd", cfg("TALB") + b"\x01\xfe\xff" + "\U0001F3B5 x".encode("utf-16-be") + b"\x00")
put("fuzz_id3_text", "tcon-utf16be-24", cfg("TCON", 4) + b"\x02" + "(17)Rock".encode("utf-16-be"))
put("fuzz_id3_text", "trck-utf8-24", cfg("TRCK", 4) + b"\x03" + "3/12".encode())
put("fuzz_id3_text", "comm-described", cfg("COMM") + b"\x00eng" + b"iTunSMPB\x00" +
    b" 00000000 00000210 00000A7C 000000000001F4A4")
put("fuzz_id3_text", "comm-utf16", cfg("COMM") + b"\x01eng\xff\xfe\x00\x00\xff\xfe" + "n\u00f6te".encode("utf-16-le"))
put("fuzz_id3_text", "txxx-replaygain", cfg("TXXX", 4) + b"\x03REPLAYGAIN_TRACK_GAIN\x00-6.20 dB")
put("fuzz_id3_text", "txxx-peak", cfg("TXXX") + b"\x00REPLAYGAIN_ALBUM_PEAK\x000.988123")
put("fuzz_id3_text", "rva2-track", cfg("RVA2", 4) + b"track\x00\x01\xfc\xf0\x10\x7f\xff")
put("fuzz_id3_text", "tit2-unsync-23", cfg("TIT2", 3, 0x80) + b"\x01\xff\xfe\x00" + "\u00ff\u00ffx".encode("utf-16-le"))
put("fuzz_id3_text", "tpe1-unsync-24-frame", cfg("TPE1", 4, 0x08) + b"\x01\xff\x00\xfeA\x00\xff\x00\xe0")
put("fuzz_id3_text", "tt2-22", cfg("TIT2", 2) + b"\x00Old tag")
put("fuzz_id3_text", "wxxx-ext", cfg("WXXX", 3, 0x40) + b"\x00desc\x00http://example.org/")
put("fuzz_id3_text", "uslt", cfg("USLT", 4) + b"\x03eng\x00line one\nline two")
put("fuzz_id3_text", "tyer-cp1252", cfg("TYER") + b"\x00\x80\x81\x8d\x8f\x90\x9d\x9f 2001")

# Album sheets (first byte: code page, rate, known length, missing files).
CUE_ALBUM = (b'REM REPLAYGAIN_ALBUM_GAIN -7.50 dB\nREM REPLAYGAIN_ALBUM_PEAK 0.98\nPERFORMER "Band"\nTITLE "Album"\n'
             b'FILE "album.mp3" MP3\n  TRACK 01 AUDIO\n    TITLE "One"\n    REM REPLAYGAIN_TRACK_GAIN -6.2 dB\n'
             b'    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    PERFORMER "Guest"\n    PREGAP 00:02:00\n'
             b'    INDEX 00 03:00:00\n    INDEX 01 03:02:00\n  TRACK 03 AUDIO\n    INDEX 01 05:00:37\n')
put("fuzz_cue", "album.cue", b"\x20" + CUE_ALBUM)
put("fuzz_cue", "bom-crlf-unknown-length.cue", b"\x04\xEF\xBB\xBF" + CUE_ALBUM.replace(b"\n", b"\r\n"))
put("fuzz_cue", "cp1252-cr.cue", b"\x21" + b'TITLE "Caf\xe9"\rFILE caf\xe9 album.wav WAVE\rTRACK 1 AUDIO\rINDEX 01 00:00:01\r')
put("fuzz_cue", "files-missing.cue", b"\x60" +
    b'FILE "a.mp3" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n'
    b'FILE "b.mp3" MP3\nTRACK 03 AUDIO\nINDEX 01 00:00:00\nFILE "c\\d.mp3" MP3\nTRACK 04 AUDIO\nINDEX 01 00:10:00\n')
put("fuzz_cue", "out-of-order.cue", b"\x2c" +
    b'FILE "a.mp3" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 02:00:00\n'
    b'TRACK 03 AUDIO\nINDEX 01 01:00:00\nTRACK 04 MODE1/2352\nINDEX 01 02:30:00\nTRACK 05 AUDIO\nINDEX 01 03:00:99\n'
    b'TRACK 06 AUDIO\nINDEX 01 99:59:74\n')


# Picture frames: whole tags (2.2 PIC, 2.3 and 2.4 APIC, unsynchronised, a
# data-length indicator, a front cover after another picture, cut short) and
# single frame bodies (first byte: 1 for a PIC body).
JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\xff\x00\xff\xe1" + bytes(range(64)) + b"\xff\xd9"
PNG = b"\x89PNG\r\n\x1a\n" + b"\x00" * 16 + b"\x00\x00\x00\x00IEND\xaeB`\x82"


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def unsync(b):
    out = bytearray()
    for i, c in enumerate(b):
        out.append(c)
        if c == 0xFF and (i + 1 == len(b) or b[i + 1] >= 0xE0 or b[i + 1] == 0):
            out.append(0)
    return bytes(out)


def apic(kind, image, mime=b"image/jpeg", enc=0, desc=b"d\x00"):
    return bytes([enc]) + mime + b"\x00" + bytes([kind]) + desc + image


def frame(major, fid, body, flags=0):
    size = syncsafe(len(body)) if major == 4 else struct.pack(">I", len(body))
    return fid + size + b"\x00" + bytes([flags]) + body


def tag(major, frames, flags=0):
    return b"ID3" + bytes([major, 0, flags]) + syncsafe(len(frames)) + frames


put("fuzz_picture", "apic-23-front-second",
    tag(3, frame(3, b"APIC", apic(4, PNG, b"image/png")) + frame(3, b"APIC", apic(3, JPEG)) + b"\x00" * 8))
put("fuzz_picture", "apic-24-utf16",
    tag(4, frame(4, b"APIC", apic(3, JPEG, enc=1, desc="c\u00f6ver".encode("utf-16") + b"\x00\x00"))))
put("fuzz_picture", "apic-23-unsync-tag", tag(3, unsync(frame(3, b"APIC", apic(3, JPEG))), 0x80))
body = apic(3, JPEG)
put("fuzz_picture", "apic-24-unsync-dli", tag(4, frame(4, b"APIC", syncsafe(len(body)) + unsync(body), 0x03)))
put("fuzz_picture", "apic-24-ext", tag(4, b"\x00\x00\x00\x06\x01\x00" + frame(4, b"APIC", apic(0, PNG)), 0x40))
pic = b"\x00PNG\x03cover\x00" + PNG
put("fuzz_picture", "pic-22", tag(2, b"TT2\x00\x00\x03\x00ab" + b"PIC" + struct.pack(">I", len(pic))[1:] + pic))
put("fuzz_picture", "apic-truncated", tag(3, frame(3, b"APIC", apic(3, JPEG)))[:-7])
put("fuzz_picture", "body-apic", b"\x00" + apic(3, JPEG))
put("fuzz_picture", "body-pic", b"\x01" + pic)
