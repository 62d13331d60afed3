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

With STANDIN_DATABASES naming a file (one database a line, made by the test), it also plays the
server's part, as far as the batch files' order depends on it:

  use [X] / use X        fails unless X is master or listed (-d X likewise fails the connection)
  CREATE DATABASE [X]    adds X to the list; DROP DATABASE [X] takes it off
  a batch matching the regular expression STANDIN_FAIL (after variables) fails as the server
  refused it, with sqlcmd's "Msg 50000, Level 16, ..." lines on stdout

and records what ran, after variables are replaced:

  EXECUTE <database> <first line>   a batch run, in the database it ran in
  ERROR <path> <first line>         a batch that failed
  EXIT <status>                     sqlcmd ends early: a failed batch under ":on error exit" or -b
                                    (status 1), or a failed connection

As the real sqlcmd, it goes on after a failed batch unless ":on error exit" or -b is in force,
":on error ignore" goes back to going on, and its exit status is then 0.
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


class Exit(Exception):
    pass


class Server:
    """The server's part, when STANDIN_DATABASES names the list of databases that exist."""

    def __init__(self, log, variables, database, exit_on_error):
        self.log = log
        self.variables = variables
        self.list = os.environ.get("STANDIN_DATABASES")
        self.fail = os.environ.get("STANDIN_FAIL")
        self.database = database
        self.exit_on_error = exit_on_error

    def databases(self):
        if not self.list or not os.path.exists(self.list):
            return set()
        with open(self.list, encoding="utf-8") as f:
            return {line.strip() for line in f if line.strip()}

    def save(self, names):
        with open(self.list, "w", encoding="utf-8") as f:
            f.write("".join(name + "\n" for name in sorted(names)))

    def connect(self):
        if self.list and self.database.lower() != "master" and self.database not in self.databases():
            self.log.write("EXIT 1\n")
            raise Exit(1)

    def command(self, line):
        mode = re.match(r":on\s+error\s+(exit|ignore)\s*$", line, re.IGNORECASE)
        if mode:
            self.exit_on_error = mode.group(1).lower() == "exit"

    def batch(self, path, lines):
        if not self.list:
            return
        text = re.sub(r"\$\(([^)]*)\)", lambda m: self.variables.get(m.group(1), m.group(0)), "\n".join(lines))
        statements = [line.strip() for line in text.split("\n") if line.strip()]
        if not statements:
            return
        name = r"(?:\[((?:[^\]]|\]\])*)\]|(\w+))"
        names = self.databases()
        ok = not (self.fail and re.search(self.fail, text, re.IGNORECASE))
        database = self.database
        for statement in statements:
            if not ok or not re.match(r"use\s", statement, re.IGNORECASE):
                continue
            used = re.match(r"use\s+" + name + r"\s*$", statement, re.IGNORECASE)
            if not used:
                ok = False  # not one name: a syntax error, as "use Sales-2024"
            else:
                target = (used.group(1) or "").replace("]]", "]") or used.group(2)
                if target.lower() != "master" and target not in names:
                    ok = False
                else:
                    database = target
        if ok:
            for created in re.finditer(r"create\s+database\s+" + name, text, re.IGNORECASE):
                names.add((created.group(1) or "").replace("]]", "]") or created.group(2))
            for dropped in re.finditer(r"drop\s+database\s+" + name, text, re.IGNORECASE):
                names.discard((dropped.group(1) or "").replace("]]", "]") or dropped.group(2))
            self.save(names)
            self.database = database
            self.log.write("EXECUTE %s %s\n" % (self.database, statements[0]))
            return
        self.log.write("ERROR %s %s\n" % (path, statements[0]))
        print("Msg 50000, Level 16, State 1, Server standin, Line 1\nRefused: %s" % statements[0], flush=True)
        if self.exit_on_error:
            self.log.write("EXIT 1\n")
            raise Exit(1)


def run(path, log, server, depth=0):
    log.write("SCRIPT %s\n" % path)
    if depth > 8:
        return
    with open(path, "rb") as f:
        text = decode(f.read())
    lexer = Lexer()
    batch = []
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
            server.batch(path, batch)
            batch = []
        elif stripped.startswith(":") or stripped.startswith("!!") or first in BARE_COMMANDS:
            log.write("COMMAND %s\n" % stripped)
            server.command(stripped)
            included = re.match(r':r\s+"([^"]*)"', stripped)
            if included and os.path.isfile(included.group(1)):
                run(included.group(1), log, server, depth + 1)
        else:
            lexer.feed(line)
            batch.append(line)
    if lexer.inside_text():
        log.write("OPEN %s\n" % path)
    if depth == 0:
        server.batch(path, batch)


def main():
    args = sys.argv[1:]
    script = args[args.index("-i") + 1] if "-i" in args else None
    variables = {}
    for i, arg in enumerate(args[:-1]):
        if arg == "-v" and "=" in args[i + 1]:
            key, value = args[i + 1].split("=", 1)
            variables[key] = value
    database = args[args.index("-d") + 1] if "-d" in args else "master"
    with open(os.environ["STANDIN_LOG"], "a", encoding="utf-8") as log:
        server = Server(log, variables, database, "-b" in args)
        try:
            server.connect()
            if script:
                run(script, log, server)
        except Exit as e:
            sys.exit(e.args[0])


if __name__ == "__main__":
    main()
