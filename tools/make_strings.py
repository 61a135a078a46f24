#!/usr/bin/env python3
"""The modules' user interface texts, one file per language in
resources/strings/<tag>.txt (UTF-8, "key = text" lines, "#" comments), made
into the resource script's string tables and dialog 102 for each language.

    make_strings.py STRINGS_DIR OUT.rc    writes the resource script
    make_strings.py --check STRINGS_DIR   checks every language against en-US

Every language has every key of en-US and no other; its access keys ("&")
and placeholders (%s, %d, %1, %1!s! ...) are those of the English text.
Lines starting with "@" set the layout of the language's dialog:
"@layout = classic" keeps the page's first layout (English, Japanese and
Chinese), "@font = 9, MS UI Gothic, 0x80" its font; other languages get the
wide layout, whose label column and button widths (dialog units) can be set
with "@label_width" and "@button_width"; "@place.IDC_SAMPLE = 7, 138, 145, 9"
puts one control elsewhere (x, y, width, height in dialog units)."""
import os
import re
import sys

# Windows' 38 display languages: tag -> (primary language, sublanguage).
LANGUAGES = {
    "ar-SA": (0x01, 0x01), "bg-BG": (0x02, 0x01), "cs-CZ": (0x05, 0x01), "da-DK": (0x06, 0x01),
    "de-DE": (0x07, 0x01), "el-GR": (0x08, 0x01), "en-GB": (0x09, 0x02), "en-US": (0x09, 0x01),
    "es-ES": (0x0A, 0x03), "es-MX": (0x0A, 0x02), "et-EE": (0x25, 0x01), "fi-FI": (0x0B, 0x01),
    "fr-CA": (0x0C, 0x03), "fr-FR": (0x0C, 0x01), "he-IL": (0x0D, 0x01), "hr-HR": (0x1A, 0x01),
    "hu-HU": (0x0E, 0x01), "it-IT": (0x10, 0x01), "ja-JP": (0x11, 0x01), "ko-KR": (0x12, 0x01),
    "lt-LT": (0x27, 0x01), "lv-LV": (0x26, 0x01), "nb-NO": (0x14, 0x01), "nl-NL": (0x13, 0x01),
    "pl-PL": (0x15, 0x01), "pt-BR": (0x16, 0x01), "pt-PT": (0x16, 0x02), "ro-RO": (0x18, 0x01),
    "ru-RU": (0x19, 0x01), "sk-SK": (0x1B, 0x01), "sl-SI": (0x24, 0x01), "sr-Latn-RS": (0x1A, 0x09),
    "sv-SE": (0x1D, 0x01), "th-TH": (0x1E, 0x01), "tr-TR": (0x1F, 0x01), "uk-UA": (0x22, 0x01),
    "zh-CN": (0x04, 0x02), "zh-TW": (0x04, 0x01),
}
RIGHT_TO_LEFT = {0x01, 0x0D}  # Arabic, Hebrew: the dialog is mirrored

# String table entries (resources/resource.h).
STRING_IDS = {
    "not_mobi": 200, "preview.encrypted": 201, "preview.author": 202,
    "preview.publisher": 203, "preview.published": 204, "preview.created": 205,
    "preview.language": 206, "save.zip_files": 207, "save.all_files": 208, "save.failed": 209,
}

# Dialog 102's controls in tab order: text key (or None), id, class, style,
# and the position of the first layout. Wide-layout positions are made by
# wide_position below.
CONTROLS = [
    ("page.name", "IDC_FILE_NAME_LABEL", "STATIC", 0x50020002, (7, 14, 45, 9)),
    (None, "IDC_FILE_NAME", "EDIT", 0x50810880, (57, 11, 161, 14)),
    (None, "IDC_BOOK_UPDOWN", "msctls_updown32", 0x50000024, (212, 11, 6, 14)),
    (None, "IDC_SEPARATOR", "STATIC", 0x50000010, (7, 32, 214, 1)),
    ("page.title", "IDC_TITLE_LABEL", "STATIC", 0x50020002, (7, 42, 45, 9)),
    (None, "IDC_TITLE", "EDIT", 0x50010880, (57, 42, 161, 14)),
    ("page.creator", "IDC_CREATOR_LABEL", "STATIC", 0x50020002, (7, 56, 45, 9)),
    (None, "IDC_CREATOR", "EDIT", 0x50010880, (57, 56, 161, 14)),
    ("page.publisher", "IDC_PUBLISHER_LABEL", "STATIC", 0x50020002, (7, 70, 45, 9)),
    (None, "IDC_PUBLISHER", "EDIT", 0x50010880, (57, 70, 91, 14)),
    ("page.created", "IDC_CREATED_LABEL", "STATIC", 0x50020002, (7, 84, 45, 9)),
    (None, "IDC_CREATED", "EDIT", 0x50010880, (57, 84, 91, 14)),
    ("page.published", "IDC_PUBLISHED_LABEL", "STATIC", 0x50020002, (7, 98, 45, 9)),
    (None, "IDC_PUBLISHED", "EDIT", 0x50010880, (57, 98, 91, 14)),
    ("page.language", "IDC_LANGUAGE_LABEL", "STATIC", 0x50020002, (7, 112, 45, 9)),
    (None, "IDC_LANGUAGE", "EDIT", 0x50010880, (57, 112, 91, 14)),
    ("page.sample", "IDC_SAMPLE", "BUTTON", 0x50000002, (57, 138, 91, 9)),
    ("page.personal", "IDC_PERSONAL", "BUTTON", 0x50000002, (57, 152, 91, 9)),
    ("page.encrypted", "IDC_ENCRYPTED", "BUTTON", 0x50000002, (57, 166, 91, 9)),
    ("page.save_source", "IDC_SAVE_SOURCE", "BUTTON", 0x50010000, (158, 179, 60, 14)),
    ("IDB_FRAME", "IDC_COVER", "STATIC", 0x5000020E, (158, 75, 60, 96)),
    ("not_mobi", "IDC_NOT_MOBI", "STATIC", 0x50020801, (7, 56, 210, 40)),
]
RIGHT_EDGE, COVER_LEFT = 218, 158


def wide_position(control, first, label_width, button_width):
    """The wide layout: a label column of label_width, the fields after it
    (beside the cover, up to a gap before it), a button of button_width at
    the right edge; the rest as in the first layout."""
    x, y, w, h = first
    field = 7 + label_width + 5
    if control.endswith("_LABEL"):
        return 7, y, label_width, h
    if control in ("IDC_FILE_NAME", "IDC_TITLE", "IDC_CREATOR"):
        return field, y, RIGHT_EDGE - field, h
    if x == 57:  # fields and check boxes beside the cover
        return field, y, COVER_LEFT - 6 - field, h
    if control == "IDC_SAVE_SOURCE":
        return RIGHT_EDGE - button_width, y, button_width, h
    return first


PLACEHOLDER = re.compile(r"%(?:\d+(?:![^!]*!)?|[-+ #0]*\d*(?:\.\d+)?[hlL]*[sdiuxXcSfgp])")


def marks(text):
    """The access keys and placeholders of a text, in a comparable form."""
    return text.replace("&&", "").count("&"), sorted(PLACEHOLDER.findall(text.replace("%%", "")))


def read(path):
    texts, settings = {}, {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if "=" not in line:
                raise ValueError("%s:%d: no '=' in the line" % (path, number))
            key, text = (part.strip() for part in line.split("=", 1))
            target = settings if key.startswith("@") else texts
            if key.lstrip("@") in target:
                raise ValueError("%s:%d: %s given twice" % (path, number, key))
            target[key.lstrip("@")] = text
    return texts, settings


def read_all(folder):
    languages = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".txt"):
            languages[name[:-4]] = read(os.path.join(folder, name))
    return languages


def problems(languages):
    found = []
    missing = sorted(set(LANGUAGES) - set(languages))
    if missing:
        found.append("no file for " + ", ".join(missing))
    found += ["%s: not one of Windows' display languages" % tag for tag in sorted(set(languages) - set(LANGUAGES))]
    if "en-US" not in languages:
        return found
    english = languages["en-US"][0]
    for key in sorted(set(STRING_IDS) | {c[0] for c in CONTROLS if c[0] and c[0].islower()} | {"page.caption"}):
        if key not in english:
            found.append("en-US: no %s" % key)
    for tag, (texts, settings) in sorted(languages.items()):
        for key in sorted(set(english) - set(texts)):
            found.append("%s: no %s" % (tag, key))
        for key in sorted(set(texts) - set(english)):
            found.append("%s: %s is not a key of en-US" % (tag, key))
        for key in sorted(set(texts) & set(english)):
            if not texts[key]:
                found.append("%s: %s is empty" % (tag, key))
            elif marks(texts[key]) != marks(english[key]):
                found.append("%s: %s has access keys and placeholders %s, en-US %s"
                             % (tag, key, marks(texts[key]), marks(english[key])))
        places = {"place." + c[1] for c in CONTROLS}
        for key in sorted(set(settings) - {"layout", "font", "label_width", "button_width"} - places):
            found.append("%s: unknown setting @%s" % (tag, key))
    return found


def quoted(text):
    return '"%s"' % text.replace('"', '""')


def dialog(tag, texts, settings):
    primary, sub = LANGUAGES[tag]
    classic = settings.get("layout") == "classic"
    points, face, charset = (part.strip() for part in settings.get("font", "8, MS Shell Dlg 2, 0x1").split(","))
    label_width = int(settings.get("label_width", 64))
    button_width = int(settings.get("button_width", 100))
    lines = ["// %s" % tag, "LANGUAGE 0x%02X, 0x%02X" % (primary, sub),
             "IDD_MOBI_PAGE DIALOGEX 0, 0, 225, 200",
             "STYLE 0x90C000C8  // WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SHELLFONT"]
    if primary in RIGHT_TO_LEFT:
        lines.append("EXSTYLE 0x00400000  // WS_EX_LAYOUTRTL: mirrored")
    lines += ["CAPTION " + quoted(texts["page.caption"]),
              "FONT %s, %s, 0, 0, %s" % (points, quoted(face), charset), "BEGIN"]
    for key, control, window_class, style, first in CONTROLS:
        x, y, w, h = first if classic else wide_position(control, first, label_width, button_width)
        if "place." + control in settings:
            x, y, w, h = (int(n) for n in settings["place." + control].split(","))
        text = "IDB_FRAME" if key == "IDB_FRAME" else quoted(texts[key] if key else "")
        lines.append('    CONTROL %s, %s, "%s", 0x%08X, %d, %d, %d, %d'
                     % (text, control, window_class, style, x, y, w, h))
    lines.append("END")
    lines += ["STRINGTABLE", "BEGIN"]
    lines += ["    %d %s" % (number, quoted(texts[key])) for key, number in sorted(STRING_IDS.items(), key=lambda i: i[1])]
    lines.append("END")
    return "\n".join(lines) + "\n"


def main(argv):
    check = argv[1:2] == ["--check"]
    args = argv[2:] if check else argv[1:]
    if len(args) != (1 if check else 2):
        sys.exit(__doc__)
    try:
        languages = read_all(args[0])
    except (OSError, ValueError, UnicodeDecodeError) as error:
        sys.exit("make_strings: %s" % error)
    found = problems(languages)
    if found:
        sys.exit("make_strings: " + "\n  ".join(["the texts are not complete:"] + found))
    if check:
        print("%d languages, %d texts each: complete" % (len(languages), len(languages["en-US"][0])))
        return
    out = ["// Made by tools/make_strings.py from resources/strings/*.txt; edit those.",
           "#pragma code_page(65001)", ""]
    out += [dialog(tag, *languages[tag]) for tag in sorted(languages)]
    text = "\n".join(out)
    if not os.path.exists(args[1]) or open(args[1], encoding="utf-8").read() != text:
        with open(args[1], "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv)
