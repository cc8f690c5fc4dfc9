"""The bytes whirlo32 writes: error messages on standard output and the
responses in the output file."""

REASONS = {
    1001: "",
    1002: "",
    1003: " (invalid picture extension)",
    1004: " (Can't open output file)",
    1005: " (cannot open picture files)",
    2001: " (Referer not allowed)",
    2002: " (bad command in query string)",
}
WRITE_FAILED = (b"\nWhirlo-32 V1.2, error : WHL1004 (Can't write output "
                b"file).\nSee WHIRLO32.HLP for help")


def message(number):
    """The text written to standard output for an error number, LF line ends."""
    return ("\nWhirlo-32 V1.2, error : WHL%d%s.\nSee WHIRLO32.HLP for help"
            % (number, REASONS[number])).encode("latin-1")


def exit_code(number):
    """What a POSIX parent sees of an error number."""
    return number % 256


STATUS = b"HTTP/1.0 200 OK\n"
BOUNDARY = b"\n--sometext\n"
MULTIPART_HEADER = (b"Content-type: multipart/x-mixed-replace;boundary=sometext\n"
                    + BOUNDARY)
MIME = {".GIF": b"image/gif", ".JPG": b"image/jpeg", ".TIF": b"image/tif"}
ERROR_PAGE = (b"Content-type: text/html\n\n"
              b"<html><body>Whirlo-32 V1.2, error : WHL1005 "
              b"(cannot open picture files)</body></html>" + BOUNDARY)


def part(extension, data):
    """One body part for a picture whose path ends in `extension`."""
    return b"Content-type: " + MIME[extension.upper()] + b"\n\n" + data + BOUNDARY


def animation(parts):
    """Layout A: status line, multipart header, the parts."""
    return STATUS + MULTIPART_HEADER + b"".join(parts)


def single(picture_part=b""):
    """Layout B: status line and one part (nothing when the picture is missing)."""
    return STATUS + picture_part


def error_response():
    """Layout C: the WHL1005 page."""
    return STATUS + ERROR_PAGE


# The frames of Start=3?End=9, played up and down.
UP = list(range(3, 10))
DOWN = UP[::-1]


def frame_bytes(base, number, extension=".gif", salt=""):
    """Distinct content for a frame file, with CR, LF, 0x1A and NUL in it."""
    tag = ("<%s%s%d%s|" % (salt, base.upper(), number, extension.upper())
           ).encode("latin-1")
    return tag + b"\r\n\x1a\x00\r" + bytes([number % 256]) * (number % 5) + b">"


def frame_parts(frames, order, extension=".GIF"):
    return [part(extension, frames[n]) for n in order]


def identify_parts(body, candidates):
    """Splits `body` into a list of candidate keys, or None when some bytes
    are not one of the candidate parts."""
    keys, pos = [], 0
    while pos < len(body):
        for key, blob in candidates.items():
            if body.startswith(blob, pos):
                keys.append(key)
                pos += len(blob)
                break
        else:
            return None
    return keys

