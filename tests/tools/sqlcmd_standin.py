#!/usr/bin/env python3
"""A stand-in for sqlcmd in the tests of the script save. It connects nowhere: it reads its -i script
the way sqlcmd reads one, line by line, and acts on the lines sqlcmd acts on, whatever they sit in:

  a line that is GO (any case, an optional count)    ends a batch
  a line that starts with ":" or "!!", or whose first word is ED, RESET, EXIT or QUIT
                                                     is a command; ":r <file>" reads that file in its place
  $(name)                                            is a variable sqlcmd replaces

One line per event goes to the file that STANDIN_LOG names:

  SCRIPT <path>          a script read (the -i file, or a :r file)
  COMMAND <line>         a command line, as written
  VARIABLE <name>        a variable used
  INSIDE <path>:<n>      line n starts inside a quoted literal or a delimited name (the line before
                         left it open), so a line of the data's could be acted on
  OPEN <path>            a batch ends inside a literal or a name
"""
import os
import re
import sys

GO = re.compile(r"^\s*go(\s+\d+)?\s*$", re.IGNORECASE)
BARE_COMMANDS = {"ED", "RESET", "EXIT", "QUIT"}


def decode(data):
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", "surrogatepass")
    return data.decode("utf-8", "replace")


class Lexer:
    """Where a batch stands: outside, in a literal (') or delimited name ([ or "), or a block comment."""

    def __init__(self):
        self.state = None
        self.depth = 0

    def feed(self, line):
        i = 0
        while i < len(line):
            c = line[i]
            nxt = line[i + 1] if i + 1 < len(line) else ""
            if self.state == "comment":
                if c == "*" and nxt == "/":
                    self.depth -= 1
                    i += 1
                    if self.depth == 0:
                        self.state = None
                elif c == "/" and nxt == "*":
                    self.depth += 1
                    i += 1
            elif self.state in ("'", "]", '"'):
                if c == self.state:
                    if nxt == self.state:
                        i += 1
                    else:
                        self.state = None
            elif c == "-" and nxt == "-":
                return
            elif c == "/" and nxt == "*":
                self.state, self.depth = "comment", 1
                i += 1
            elif c == "'":
                self.state = "'"
            elif c == "[":
                self.state = "]"
            elif c == '"':
                self.state = '"'
            i += 1

    def inside_text(self):
        return self.state in ("'", "]", '"')


def run(path, log, depth=0):
    log.write("SCRIPT %s\n" % path)
    if depth > 8:
        return
    with open(path, "rb") as f:
        text = decode(f.read())
    lexer = Lexer()
    for number, line in enumerate(re.split(r"\r\n|\n|\r", text), 1):
        if number > 1 and lexer.inside_text():
            log.write("INSIDE %s:%d\n" % (path, number))
        for name in re.findall(r"\$\(([^)]*)\)", line):
            log.write("VARIABLE %s\n" % name)
        stripped = line.lstrip(" \t")
        first = re.split(r"[\s(]", stripped, maxsplit=1)[0].upper()
        if GO.match(line):
            if lexer.inside_text():
                log.write("OPEN %s\n" % path)
            lexer = Lexer()
        elif stripped.startswith(":") or stripped.startswith("!!") or first in BARE_COMMANDS:
            log.write("COMMAND %s\n" % stripped)
            included = re.match(r':r\s+"([^"]*)"', stripped)
            if included and os.path.isfile(included.group(1)):
                run(included.group(1), log, depth + 1)
        else:
            lexer.feed(line)
    if lexer.inside_text():
        log.write("OPEN %s\n" % path)


def main():
    args = sys.argv[1:]
    script = args[args.index("-i") + 1] if "-i" in args else None
    with open(os.environ["STANDIN_LOG"], "a", encoding="utf-8") as log:
        if script:
            run(script, log)


if __name__ == "__main__":
    main()
