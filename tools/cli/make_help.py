#!/usr/bin/env python3
"""Writes qtr_author's manual page and its --help text from one source.

    make_help.py SOURCE VERSION DATE MAN_PAGE HELP_INC

SOURCE (tools/cli/qtr_author.1.in) is a manual page in the man(7) macros.
MAN_PAGE is it with @VERSION@ and @DATE@ filled in, MAN_PAGE.gz the same
compressed as Debian wants it (no name or time in the gzip header, so the
same source gives the same bytes). HELP_INC is a C++ fragment defining
kSynopsis ("usage: " and the SYNOPSIS lines) and kHelp (the synopsis, the
first paragraph of DESCRIPTION and the sections in HELP_SECTIONS, laid out
for a terminal of 80 columns).

Only the macros the page uses are understood: .TH .SH .SS .PP .TP .B .I .BI
.BR .IR .nf .fi .EX .EE and comments, with the escapes \\- \\e \\& and the
font changes \\fB \\fI \\fR \\fP. Anything else stops the build, so that the
help never silently loses text.
"""
import gzip
import re
import sys
import textwrap

HELP_SECTIONS = ["COMMANDS", "OPTIONS", "STUB PATCHER", "EXIT STATUS"]
WIDTH = 80
TAG_COLUMN = 23  # where a .TP item's text starts


def plain(text):
    """Text of a roff line without its escapes."""
    def escape(m):
        e = m.group(1)
        table = {"-": "-", "e": "\\", "&": "", "fB": "", "fI": "", "fR": "", "fP": ""}
        if e not in table:
            raise SystemExit(f"make_help: unknown escape \\{e} in: {text}")
        return table[e]
    return re.sub(r"\\(f[BIRP]|.)", escape, text)


def arguments(rest):
    """A macro's arguments: words, or text in double quotes."""
    return [a[1:-1] if a.startswith('"') else a for a in re.findall(r'"[^"]*"|\S+', rest)]


def parse(lines):
    """Sections as [(title, [block])]; a block is ("para", text),
    ("item", tag, text), ("sub", title) or ("verbatim", lines)."""
    sections, blocks, verbatim = [], None, None
    for number, line in enumerate(lines, 1):
        if verbatim is not None:
            if line in (".fi", ".EE"):
                blocks.append(("verbatim", verbatim))
                verbatim = None
            else:
                verbatim.append(plain(line))
            continue
        if line.startswith('.\\"') or line.startswith(".TH"):
            continue
        macro, _, rest = line.partition(" ") if line.startswith(".") else ("", "", line)
        if macro == ".SH":
            blocks = []
            sections.append((" ".join(arguments(rest)), blocks))
        elif blocks is None:
            raise SystemExit(f"make_help: line {number} comes before the first .SH")
        elif macro == ".SS":
            blocks.append(("sub", plain(" ".join(arguments(rest)))))
        elif macro == ".PP":
            blocks.append(("para", ""))
        elif macro == ".TP":
            blocks.append(("item", None, ""))
        elif macro in (".nf", ".EX"):
            verbatim = []
        elif macro in ("", ".B", ".I", ".BI", ".BR", ".IR"):
            # Font macros join their arguments without spaces.
            text = plain(rest if macro == "" else "".join(arguments(rest)))
            kind = blocks[-1][0] if blocks else None
            if kind == "item" and blocks[-1][1] is None:
                blocks[-1] = ("item", text, "")
            elif kind in ("item", "para"):
                blocks[-1] = blocks[-1][:-1] + ((blocks[-1][-1] + " " + text).strip(),)
            else:
                blocks.append(("para", text))
        else:
            raise SystemExit(f"make_help: line {number}: macro {macro} is not understood")
    return sections


def wrapped(text, indent=""):
    return textwrap.fill(text, WIDTH - 1, initial_indent=indent, subsequent_indent=indent,
                         break_on_hyphens=False, break_long_words=False)


def help_text(sections):
    by_title = dict(sections)
    synopsis = [b for b in by_title["SYNOPSIS"] if b[0] == "verbatim"][0][1]
    usage = "usage: " + ("\n" + " " * 7).join(synopsis) + "\n"
    out = [usage]
    first = next(b for b in by_title["DESCRIPTION"] if b[0] == "para" and b[1])
    out.append(wrapped(first[1]) + "\n")
    for title in HELP_SECTIONS:
        lines = [] if title == "OPTIONS" else [title.capitalize() + ":"]
        for block in by_title[title]:
            if block[0] == "sub":
                if lines:
                    out.append("\n".join(lines) + "\n")
                lines = [block[1] + ":"]
            elif block[0] == "para" and block[1]:
                lines.append(wrapped(block[1], "  "))
            elif block[0] == "item":
                tag, text = "  " + block[1], block[2]
                body = textwrap.wrap(text, WIDTH - 1 - TAG_COLUMN, break_on_hyphens=False,
                                     break_long_words=False)
                if len(tag) < TAG_COLUMN - 1:
                    lines.append(tag.ljust(TAG_COLUMN) + (body[0] if body else ""))
                    body = body[1:]
                else:
                    lines.append(tag)
                lines += [" " * TAG_COLUMN + b for b in body]
        out.append("\n".join(lines) + "\n")
    return usage, "\n".join(out)


def c_string(text):
    body = text.replace("\\", "\\\\").replace('"', '\\"')
    return "\n".join('    "' + line + '\\n"' for line in body.split("\n")[:-1]) or '""'


def main():
    if len(sys.argv) != 6:
        raise SystemExit(__doc__)
    source, version, date, man_page, help_inc = sys.argv[1:]
    page = open(source, encoding="utf-8").read().replace("@VERSION@", version).replace("@DATE@", date)
    usage, text = help_text(parse(page.splitlines()))
    with open(man_page, "w", encoding="utf-8") as f:
        f.write(page)
    with open(man_page + ".gz", "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as f:
            f.write(page.encode("utf-8"))
    with open(help_inc, "w", encoding="utf-8") as f:
        f.write("// Written by tools/cli/make_help.py from tools/cli/qtr_author.1.in.\n")
        f.write("constexpr char kSynopsis[] =\n" + c_string(usage) + ";\n")
        f.write("constexpr char kHelp[] =\n" + c_string(text) + ";\n")


if __name__ == "__main__":
    main()
