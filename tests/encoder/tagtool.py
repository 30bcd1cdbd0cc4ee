#!/usr/bin/python3
"""Tags generated audio files with every field their tag format holds, and
reads an MP3's ID3v2 frames back, with mutagen (by hand where mutagen writes
no such tags): a reader and writer independent of the tool's own.
  tagtool.py write <format> <file> <back.png> <front.png>
  tagtool.py read <file.mp3>        prints the frames as JSON"""
import base64, json, struct, sys
import mutagen, mutagen.apev2, mutagen.asf, mutagen.flac, mutagen.id3 as id3, mutagen.mp4

TITLE, ARTIST, LYRICS = "T\u00eftle \u2603", "\u00c4rtist", "Line one\nLine two"
MB = dict(zip(["TRACKID", "ALBUMID", "ARTISTID", "ALBUMARTISTID", "RELEASEGROUPID", "RELEASETRACKID", "WORKID"],
              ["%dc3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1" % n for n in range(1, 8)]))
MB_NAMES = {"ALBUMID": "Album Id", "ARTISTID": "Artist Id", "ALBUMARTISTID": "Album Artist Id",
            "RELEASEGROUPID": "Release Group Id", "RELEASETRACKID": "Release Track Id", "WORKID": "Work Id"}
COMMON = {"TITLE": TITLE, "ARTIST": ARTIST, "ALBUM": "Album", "ALBUMARTIST": "Album Artist", "GENRE": "Rock",
          "COMPOSER": "Composer", "COMMENT": "A comment", "LYRICS": LYRICS, "TITLESORT": "Title Sort",
          "ARTISTSORT": "Artist Sort", "ALBUMSORT": "Album Sort", "ALBUMARTISTSORT": "Album Artist Sort",
          "COMPOSERSORT": "Composer Sort", **{"MUSICBRAINZ_" + k: v for k, v in MB.items()}}


def png(path):
    return open(path, "rb").read()


def flac_pictures(back, front):
    pictures = [mutagen.flac.Picture() for _ in range(2)]
    for picture, kind, path in zip(pictures, (4, 3), (back, front)):
        picture.type, picture.mime, picture.data = kind, "image/png", png(path)
    return pictures


def id3_frames(back, front):
    text = {"TIT2": TITLE, "TPE1": ARTIST, "TALB": "Album", "TPE2": "Album Artist", "TRCK": "3/12", "TPOS": "1/2",
            "TDRC": "2021-05-04", "TCON": "Rock", "TCOM": "Composer", "TCMP": "1", "TSOT": "Title Sort",
            "TSOP": "Artist Sort", "TSOA": "Album Sort", "TSO2": "Album Artist Sort", "TSOC": "Composer Sort"}
    frames = [getattr(id3, name)(encoding=3, text=value) for name, value in text.items()]
    frames += [id3.COMM(encoding=3, lang="eng", desc="", text="A comment"),
               id3.USLT(encoding=3, lang="eng", desc="", text=LYRICS),
               id3.UFID(owner="http://musicbrainz.org", data=MB["TRACKID"].encode())]
    frames += [id3.TXXX(encoding=3, desc="MusicBrainz " + name, text=MB[k]) for k, name in MB_NAMES.items()]
    return frames + [id3.APIC(encoding=3, mime="image/png", type=kind, desc=str(kind), data=png(path))
                     for kind, path in ((4, back), (3, front))]


def id3v22_tag(front):
    frame = lambda name, body: name + struct.pack(">I", len(body))[1:] + body
    text = lambda name, value: frame(name, b"\x01" + value.encode("utf-16"))
    body = b"".join([text(b"TT2", TITLE), text(b"TP1", ARTIST), text(b"TAL", "Album"), text(b"TP2", "Album Artist"),
                     text(b"TRK", "3/12"), text(b"TPA", "1/2"), text(b"TYE", "2021"), text(b"TCO", "Rock"),
                     text(b"TCM", "Composer"), frame(b"COM", b"\x00eng\x00A comment"),
                     frame(b"PIC", b"\x00PNG\x03\x00" + png(front))])
    return b"ID3\x02\x00\x00" + bytes((len(body) >> s) & 127 for s in (21, 14, 7, 0)) + body


def add_chunks(path, chunks, riff):
    """Appends chunks to a RIFF WAVE (in a LIST INFO chunk) or an AIFF FORM."""
    pack = lambda name, data: (name + struct.pack("<I" if riff else ">I", len(data)) + data
                               + b"\x00" * (len(data) % 2))
    data = open(path, "rb").read()
    added = b"".join(pack(name, value) for name, value in chunks)
    body = data[12:] + (pack(b"LIST", b"INFO" + added) if riff else added)
    open(path, "wb").write(data[:4] + struct.pack("<I" if riff else ">I", len(body) + 4) + data[8:12] + body)


def write(kind, path, back, front):
    if kind in ("flac", "vorbis", "opus"):
        f = mutagen.File(path)
        f.update({**COMMON, "TRACKNUMBER": "3", "TRACKTOTAL": "12", "DISCNUMBER": "1", "DISCTOTAL": "2",
                  "DATE": "2021-05-04", "COMPILATION": "1"})
        pictures = flac_pictures(back, front)
        if kind == "flac":
            for picture in pictures:
                f.add_picture(picture)
        else:
            f["METADATA_BLOCK_PICTURE"] = [base64.b64encode(p.write()).decode() for p in pictures]
        f.save()
    elif kind in ("id3v23", "id3v24"):
        tag = id3.ID3()
        for frame in id3_frames(back, front):
            tag.add(frame)
        tag.save(path, v2_version=int(kind[-1]))
    elif kind == "id3v22":
        data = open(path, "rb").read()
        open(path, "wb").write(id3v22_tag(front) + data)
    elif kind == "mp4":
        f = mutagen.mp4.MP4(path)
        f.update({"\xa9nam": TITLE, "\xa9ART": ARTIST, "\xa9alb": "Album", "aART": "Album Artist", "trkn": [(3, 12)],
                  "disk": [(1, 2)], "\xa9day": "2021-05-04", "\xa9gen": "Rock", "\xa9wrt": "Composer",
                  "\xa9cmt": "A comment", "\xa9lyr": LYRICS, "cpil": True, "sonm": "Title Sort", "soar": "Artist Sort",
                  "soal": "Album Sort", "soaa": "Album Artist Sort", "soco": "Composer Sort",
                  "covr": [mutagen.mp4.MP4Cover(png(p), mutagen.mp4.MP4Cover.FORMAT_PNG) for p in (back, front)]})
        for key, name in {"TRACKID": "Track Id", **MB_NAMES}.items():
            f["----:com.apple.iTunes:MusicBrainz " + name] = MB[key].encode()
        f.save()
    elif kind == "ape":
        f = mutagen.apev2.APEv2()
        f.update({**COMMON, "Track": "3/12", "Disc": "1/2", "Year": "2021-05-04",
                  "Compilation": "1"})
        for name, p in (("Back", back), ("Front", front)):
            f["Cover Art (%s)" % name] = mutagen.apev2.APEValue(b"c.png\x00" + png(p), mutagen.apev2.BINARY)
        f.save(path)
    elif kind == "asf":
        f = mutagen.asf.ASF(path)
        f.update({"Title": TITLE, "Author": ARTIST, "WM/AlbumTitle": "Album", "WM/AlbumArtist": "Album Artist",
                  "WM/TrackNumber": "3", "WM/PartOfSet": "1/2", "WM/Year": "2021", "WM/Genre": "Rock",
                  "WM/Composer": "Composer", "Description": "A comment", "WM/Lyrics": LYRICS,
                  "WM/TitleSortOrder": "Title Sort", "WM/ArtistSortOrder": "Artist Sort",
                  "WM/AlbumSortOrder": "Album Sort", "WM/AlbumArtistSortOrder": "Album Artist Sort",
                  "WM/ComposerSortOrder": "Composer Sort", "WM/IsCompilation": [mutagen.asf.ASFBoolAttribute(True)],
                  **{"MusicBrainz/" + n: MB[k] for k, n in {"TRACKID": "Track Id", **MB_NAMES}.items()}})
        f.save()
    elif kind == "riff":
        add_chunks(path, [(k, v.encode("latin-1") + b"\x00") for k, v in (
            (b"INAM", "Title"), (b"IART", ARTIST), (b"IPRD", "Album"), (b"ITRK", "3/12"), (b"ICRD", "2021-05-04"),
            (b"IGNR", "Rock"), (b"ICMT", "A comment"))], True)
    elif kind == "aiff":
        add_chunks(path, [(b"NAME", b"Title"), (b"AUTH", b"Artist"), (b"(c) ", b"2021 Someone"),
                          (b"ANNO", b"A comment")], False)


def read(path):
    tag, frames = id3.ID3(path, translate=False), {}
    for key, frame in tag.items():
        if isinstance(frame, id3.APIC):
            frames["APIC"] = {"type": frame.type, "data": frame.data.hex()}
        elif isinstance(frame, id3.UFID):
            frames[key] = frame.data.decode()
        else:
            text = frame.text if isinstance(frame.text, str) else "/".join(map(str, frame.text))
            frames[key] = {"text": text, "encoding": int(frame.encoding)}
    print(json.dumps({"version": list(tag.version), "frames": frames}))


if __name__ == "__main__":
    write(*sys.argv[2:6]) if sys.argv[1] == "write" else read(sys.argv[2])
