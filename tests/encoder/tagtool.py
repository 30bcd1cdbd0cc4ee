#!/usr/bin/python3
"""Writes every tag field into a generated audio file, in the container's own
tag format, and reads an MP3's ID3v2 frames back, both with mutagen (or by
hand where mutagen writes no such tags), as a reader independent of ours.

  tagtool.py write <format> <file> <back.png> <front.png>
  tagtool.py read <file.mp3>        prints the frames as JSON
"""
import base64, json, struct, sys
import mutagen.apev2, mutagen.asf, mutagen.flac, mutagen.id3 as id3, mutagen.mp4

MB = {"MUSICBRAINZ_TRACKID": "1c3b0fdb-5b36-4e0c-a0a3-6b1d5a4ff0d1",
      "MUSICBRAINZ_ALBUMID": "2d4c1eec-6c47-4f1d-b1b4-7c2e6b5aa1e2",
      "MUSICBRAINZ_ARTISTID": "3e5d2ffd-7d58-4a2e-82c5-8d3f7c6bb2f3",
      "MUSICBRAINZ_ALBUMARTISTID": "4f6e3a0e-8e69-4b3f-93d6-9e4a8d7cc3a4",
      "MUSICBRAINZ_RELEASEGROUPID": "5a7f4b1f-9f7a-4c4a-a4e7-af5b9e8dd4b5",
      "MUSICBRAINZ_RELEASETRACKID": "6b8a5c2a-a08b-4d5b-b5f8-b06caf9ee5c6",
      "MUSICBRAINZ_WORKID": "7c9b6d3b-b19c-4e6c-86a9-c17dba0ff6d7"}
TXXX = {"MUSICBRAINZ_ALBUMID": "MusicBrainz Album Id", "MUSICBRAINZ_ARTISTID": "MusicBrainz Artist Id",
        "MUSICBRAINZ_ALBUMARTISTID": "MusicBrainz Album Artist Id",
        "MUSICBRAINZ_RELEASEGROUPID": "MusicBrainz Release Group Id",
        "MUSICBRAINZ_RELEASETRACKID": "MusicBrainz Release Track Id", "MUSICBRAINZ_WORKID": "MusicBrainz Work Id"}
TEXT = {"TITLE": "T\u00eftle \u2603", "ARTIST": "\u00c4rtist", "ALBUM": "Album", "ALBUMARTIST": "Album Artist",
        "GENRE": "Rock", "COMPOSER": "Composer", "COMMENT": "A comment", "LYRICS": "Line one\nLine two",
        "TITLESORT": "Title Sort", "ARTISTSORT": "Artist Sort", "ALBUMSORT": "Album Sort",
        "ALBUMARTISTSORT": "Album Artist Sort", "COMPOSERSORT": "Composer Sort"}


def vorbis_comments(tags, pictures):
    for key, value in {**TEXT, **MB}.items():
        tags[key] = value
    tags.update({"TRACKNUMBER": "3", "TRACKTOTAL": "12", "DISCNUMBER": "1", "DISCTOTAL": "2",
                 "DATE": "2021-05-04", "COMPILATION": "1"})
    if pictures is not None:
        tags["METADATA_BLOCK_PICTURE"] = [base64.b64encode(p.write()).decode() for p in pictures]


def flac_pictures(back, front):
    result = []
    for kind, path in ((4, back), (3, front)):
        picture = mutagen.flac.Picture()
        picture.type, picture.mime, picture.data = kind, "image/png", open(path, "rb").read()
        result.append(picture)
    return result


def id3_frames(back, front):
    frames = [id3.TIT2(encoding=3, text=TEXT["TITLE"]), id3.TPE1(encoding=3, text=TEXT["ARTIST"]),
              id3.TALB(encoding=3, text="Album"), id3.TPE2(encoding=3, text="Album Artist"),
              id3.TRCK(encoding=3, text="3/12"), id3.TPOS(encoding=3, text="1/2"),
              id3.TDRC(encoding=3, text="2021-05-04"), id3.TCON(encoding=3, text="Rock"),
              id3.TCOM(encoding=3, text="Composer"), id3.COMM(encoding=3, lang="eng", desc="", text="A comment"),
              id3.USLT(encoding=3, lang="eng", desc="", text=TEXT["LYRICS"]), id3.TCMP(encoding=3, text="1"),
              id3.TSOT(encoding=3, text="Title Sort"), id3.TSOP(encoding=3, text="Artist Sort"),
              id3.TSOA(encoding=3, text="Album Sort"), id3.TSO2(encoding=3, text="Album Artist Sort"),
              id3.TSOC(encoding=3, text="Composer Sort"),
              id3.UFID(owner="http://musicbrainz.org", data=MB["MUSICBRAINZ_TRACKID"].encode())]
    frames += [id3.TXXX(encoding=3, desc=TXXX[k], text=MB[k]) for k in TXXX]
    frames += [id3.APIC(encoding=3, mime="image/png", type=kind, desc=name, data=open(path, "rb").read())
               for kind, name, path in ((4, "back", back), (3, "front", front))]
    return frames


def id3v22_tag(front):
    """mutagen writes no ID3v2.2: a small tag made by hand."""
    def frame(name, body):
        return name + struct.pack(">I", len(body))[1:] + body
    def text(name, value):
        return frame(name, b"\x01" + value.encode("utf-16"))
    body = b"".join([text(b"TT2", TEXT["TITLE"]), text(b"TP1", TEXT["ARTIST"]), text(b"TAL", "Album"),
                     text(b"TP2", "Album Artist"), text(b"TRK", "3/12"), text(b"TPA", "1/2"),
                     text(b"TYE", "2021"), text(b"TCO", "Rock"), text(b"TCM", "Composer"),
                     frame(b"COM", b"\x00eng\x00A comment"),
                     frame(b"PIC", b"\x00PNG\x03\x00" + open(front, "rb").read())])
    size = len(body)
    return b"ID3\x02\x00\x00" + bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127]) + body


def riff_chunk(name, data):
    return name + struct.pack("<I", len(data)) + data + (b"\x00" if len(data) % 2 else b"")


def add_riff_info(path):
    data = open(path, "rb").read()
    info = b"INFO" + b"".join(riff_chunk(k, v.encode("latin-1") + b"\x00") for k, v in (
        (b"INAM", "Title"), (b"IART", TEXT["ARTIST"]), (b"IPRD", "Album"), (b"ITRK", "3/12"),
        (b"ICRD", "2021-05-04"), (b"IGNR", "Rock"), (b"ICMT", "A comment")))
    body = data[12:] + riff_chunk(b"LIST", info)
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body) + 4) + b"WAVE" + body)


def add_aiff_chunks(path):
    data = open(path, "rb").read()
    chunks = b"".join(name + struct.pack(">I", len(v)) + v + (b"\x00" if len(v) % 2 else b"") for name, v in (
        (b"NAME", b"Title"), (b"AUTH", b"Artist"), (b"(c) ", b"2021 Someone"), (b"ANNO", b"A comment")))
    body = data[12:] + chunks
    open(path, "wb").write(b"FORM" + struct.pack(">I", len(body) + 4) + data[8:12] + body)


def write(kind, path, back, front):
    if kind in ("flac",):
        f = mutagen.flac.FLAC(path)
        vorbis_comments(f, None)
        for picture in flac_pictures(back, front):
            f.add_picture(picture)
        f.save()
    elif kind in ("vorbis", "opus"):
        f = mutagen.File(path)
        vorbis_comments(f, flac_pictures(back, front))
        f.save()
    elif kind in ("id3v23", "id3v24"):
        tag = id3.ID3()
        for frame in id3_frames(back, front):
            tag.add(frame)
        tag.save(path, v2_version=3 if kind == "id3v23" else 4)
    elif kind == "id3v22":
        data = open(path, "rb").read()
        open(path, "wb").write(id3v22_tag(front) + data)
    elif kind == "mp4":
        f = mutagen.mp4.MP4(path)
        f.update({"\xa9nam": TEXT["TITLE"], "\xa9ART": TEXT["ARTIST"], "\xa9alb": "Album", "aART": "Album Artist",
                  "trkn": [(3, 12)], "disk": [(1, 2)], "\xa9day": "2021-05-04", "\xa9gen": "Rock",
                  "\xa9wrt": "Composer", "\xa9cmt": "A comment", "\xa9lyr": TEXT["LYRICS"], "cpil": True,
                  "sonm": "Title Sort", "soar": "Artist Sort", "soal": "Album Sort", "soaa": "Album Artist Sort",
                  "soco": "Composer Sort"})
        names = {"MUSICBRAINZ_TRACKID": "MusicBrainz Track Id", **TXXX}
        for key, name in names.items():
            f["----:com.apple.iTunes:" + name] = MB[key].encode()
        f["covr"] = [mutagen.mp4.MP4Cover(open(p, "rb").read(), mutagen.mp4.MP4Cover.FORMAT_PNG)
                     for p in (back, front)]
        f.save()
    elif kind == "ape":
        f = mutagen.apev2.APEv2()
        f.update({"Title": TEXT["TITLE"], "Artist": TEXT["ARTIST"], "Album": "Album", "Album Artist": "Album Artist",
                  "Track": "3/12", "Disc": "1/2", "Year": "2021-05-04", "Genre": "Rock", "Composer": "Composer",
                  "Comment": "A comment", "Lyrics": TEXT["LYRICS"], "Compilation": "1", "TitleSort": "Title Sort",
                  "ArtistSort": "Artist Sort", "AlbumSort": "Album Sort", "AlbumArtistSort": "Album Artist Sort",
                  "ComposerSort": "Composer Sort", **MB})
        for name, p in (("Cover Art (Back)", back), ("Cover Art (Front)", front)):
            f[name] = mutagen.apev2.APEValue(b"cover.png\x00" + open(p, "rb").read(), mutagen.apev2.BINARY)
        f.save(path)
    elif kind == "asf":
        f = mutagen.asf.ASF(path)
        f.update({"Title": TEXT["TITLE"], "Author": TEXT["ARTIST"], "WM/AlbumTitle": "Album",
                  "WM/AlbumArtist": "Album Artist", "WM/TrackNumber": "3", "WM/PartOfSet": "1/2",
                  "WM/Year": "2021", "WM/Genre": "Rock", "WM/Composer": "Composer", "Description": "A comment",
                  "WM/Lyrics": TEXT["LYRICS"], "WM/TitleSortOrder": "Title Sort",
                  "WM/ArtistSortOrder": "Artist Sort", "WM/AlbumSortOrder": "Album Sort",
                  "WM/AlbumArtistSortOrder": "Album Artist Sort",
                  "MusicBrainz/Track Id": MB["MUSICBRAINZ_TRACKID"], "MusicBrainz/Album Id": MB["MUSICBRAINZ_ALBUMID"],
                  "MusicBrainz/Artist Id": MB["MUSICBRAINZ_ARTISTID"]})
        f.save()
    elif kind == "riff":
        add_riff_info(path)
    elif kind == "aiff":
        add_aiff_chunks(path)
    else:
        sys.exit("unknown format " + kind)


def read(path):
    frames = {}
    tag = id3.ID3(path, translate=False)
    for key, frame in tag.items():
        if isinstance(frame, id3.APIC):
            frames["APIC"] = {"type": int(frame.type), "data": frame.data.hex()}
        elif isinstance(frame, id3.UFID):
            frames[key] = frame.data.decode()
        else:
            text = frame.text if isinstance(frame.text, str) else "/".join(str(t) for t in frame.text)
            frames[key] = {"text": text,
                           "encoding": int(getattr(frame, "encoding", -1))}
    print(json.dumps({"version": list(tag.version), "frames": frames}))


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(*sys.argv[2:6])
    else:
        read(sys.argv[2])
