#!/usr/bin/env python3
"""Turn the built-in specs into constant C++ data.

Usage: gen_builtin_specs.py SPECS OUTPUT_DIR

Reads SPECS (specs/builtin_specs.txt, whose header describes the format),
checks it, and writes OUTPUT_DIR/specs/builtin_spec_data.h: one pool holding
every text (each followed by a NUL), the compilers-table rows and the named
specs as offsets into it, an enumeration naming the named specs, the
other texts, the switch atoms each text names (for switch validation) and
where each brace body of the texts ends (for the interpreter).

A malformed file is reported as "SPECS:LINE: error: MESSAGE" on standard
error, with exit status 1, and nothing is written.
"""

import os
import re
import sys

# The texts the driver refers to by name; each must be given exactly once.
REQUIRED_TEXTS = ["link_command", "asm_cpu_spec", "libvelk_construct",
                  "link_eh_frame_prefix", "sysroot_link_prefix"]
ROW_FLAGS = {"combinable": 1, "needs-preprocessing": 2}
NAME_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*$")

TOKEN_RE = re.compile(
    r'\s*(?:'
    r'(?P<string>"(?:[^"\\\n]|\\.)*")'
    r'|(?P<keyed>[A-Za-z][A-Za-z0-9-]*="(?:[^"\\\n]|\\.)*")'
    r'|(?P<comment>#.*)'
    r'|(?P<word>[^\s"#]+)'
    r'|(?P<bad>"[^\n]*)'
    r')')


class SpecsError(Exception):
    def __init__(self, line, message):
        super().__init__(message)
        self.line = line
        self.message = message


def unquote(token, line):
    """The text of a double-quoted token, with its escapes resolved."""
    body = token[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            e = body[i + 1]
            if e not in 'nt"\\':
                raise SpecsError(line, "unknown escape '\\%s' in a string" % e)
            out.append({"n": "\n", "t": "\t", '"': '"', "\\": "\\"}[e])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def tokenize(text, line):
    tokens = []
    pos = 0
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if m is None or m.end() == pos:
            break
        pos = m.end()
        kind = m.lastgroup
        if kind is None or kind == "comment":
            continue
        if kind == "bad":
            raise SpecsError(line, "unterminated string")
        tokens.append((kind, m.group(kind)))
    return tokens


class Entry:
    def __init__(self, keyword, line):
        self.keyword = keyword
        self.line = line
        self.name = None
        self.flags = 0
        self.preprocessor = None
        self.pieces = []

    @property
    def text(self):
        return "".join(self.pieces)


def parse(path):
    entries = []
    current = None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, raw in enumerate(lines, 1):
        if raw.strip() == "" or raw.lstrip().startswith("#"):
            continue
        tokens = tokenize(raw, number)
        if raw[0] in " \t":
            # A continuation: strings only.
            if current is None:
                raise SpecsError(number, "continuation line outside an entry")
            for kind, value in tokens:
                if kind != "string":
                    raise SpecsError(
                        number, "expected a quoted string, found '%s'" % value)
                current.pieces.append(unquote(value, number))
            continue
        kind, keyword = tokens[0]
        if kind != "word" or keyword not in ("row", "spec", "text",
                                             "self-spec"):
            raise SpecsError(number, "unknown entry '%s'" % keyword)
        current = Entry(keyword, number)
        entries.append(current)
        rest = tokens[1:]
        if keyword in ("spec", "text"):
            if not rest or rest[0][0] != "word":
                raise SpecsError(number, "%s without a name" % keyword)
            current.name = rest[0][1]
            if not NAME_RE.match(current.name):
                raise SpecsError(number, "invalid name '%s'" % current.name)
            rest = rest[1:]
        elif keyword == "row":
            if not rest or rest[0][0] != "string":
                raise SpecsError(number, "row without a quoted key")
            current.name = unquote(rest[0][1], number)
            rest = rest[1:]
            while rest and rest[0][0] in ("word", "keyed"):
                kind, value = rest[0]
                rest = rest[1:]
                if kind == "word":
                    if value not in ROW_FLAGS:
                        raise SpecsError(number, "unknown row flag '%s'" % value)
                    current.flags |= ROW_FLAGS[value]
                    continue
                key, _, quoted = value.partition("=")
                if key != "preprocessor":
                    raise SpecsError(number, "unknown row field '%s'" % key)
                current.preprocessor = unquote(quoted, number)
        for kind, value in rest:
            if kind != "string":
                raise SpecsError(
                    number, "expected a quoted string, found '%s'" % value)
            current.pieces.append(unquote(value, number))
    for entry in entries:
        if not entry.pieces:
            raise SpecsError(entry.line, "%s without a text" % entry.keyword)
    return entries


def check(entries):
    rows = [e for e in entries if e.keyword == "row"]
    specs = [e for e in entries if e.keyword == "spec"]
    texts = [e for e in entries if e.keyword == "text"]
    selfs = [e for e in entries if e.keyword == "self-spec"]
    languages = set()
    for row in rows:
        key = row.name
        if key != "-" and not (len(key) > 1 and key[0] in ".@"):
            raise SpecsError(row.line, "invalid key '%s'" % key)
        if key[0] == "@":
            if key in languages:
                raise SpecsError(row.line, "language '%s' given twice" % key)
            languages.add(key)
    for row in rows:
        spec = row.text
        if spec.startswith("@") and spec not in languages:
            raise SpecsError(row.line, "unknown language '%s'" % spec)
        if row.name[0] == "@" and spec[:1] in ("@", "#"):
            raise SpecsError(row.line,
                             "language entry '%s' is an alias" % row.name)
    seen = {}
    for entry in specs + texts:
        key = (entry.keyword, entry.name)
        if key in seen:
            raise SpecsError(entry.line, "%s '%s' given twice (first on line "
                             "%d)" % (entry.keyword, entry.name, seen[key]))
        seen[key] = entry.line
    names = {e.name for e in texts}
    last = entries[-1].line if entries else 1
    for required in REQUIRED_TEXTS:
        if required not in names:
            raise SpecsError(last, "text '%s' missing" % required)
    if not rows:
        raise SpecsError(last, "no rows")
    if not specs:
        raise SpecsError(last, "no named specs")
    return rows, specs, texts, selfs


def cxx_string(text):
    out = []
    for c in text:
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif c == "?":
            out.append("\\?")  # no trigraphs, whatever the compiler mode
        else:
            out.append(c)
    return '"' + "".join(out) + '"'


WORD_CHARS = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                 "0123456789_-+=,.@/")


def switch_atoms(text):
    """The switch atoms `text` names, as (atom, starred) in text order.

    Mirrors the scan of specs/spec_validation.cc (a unit test compares the
    two on every built-in text): the atoms of every %{, %<, %W{ and %@{
    construct that are neither suffix nor language tests nor spec
    functions."""
    atoms = []
    pos = 0
    n = len(text)

    def peek(ahead=0):
        return text[pos + ahead] if pos + ahead < n else None

    def skip_blanks():
        nonlocal pos
        while peek() in (" ", "\t"):
            pos += 1

    def scan_text(in_body):
        nonlocal pos
        while True:
            c = peek()
            if c is None:
                return
            if in_body and c in ";}":
                return
            pos += 1
            if c == "\\":
                if peek() is not None:
                    pos += 1
                continue
            if c != "%":
                continue
            e = peek()
            if e is not None and e in "{<>":
                pos += 1
                scan_construct(e == "{")
            elif e is not None and e in "W@" and peek(1) == "{":
                pos += 2
                scan_construct(True)
            elif e is not None:
                pos += 1

    def scan_construct(braced):
        nonlocal pos
        while True:
            skip_blanks()
            if peek() == "!":
                pos += 1
                skip_blanks()
            test_only = False
            if peek() == "%" and peek(1) == ":":
                pos += 2
                while peek() is not None and peek() != "(":
                    pos += 1
                depth = 0
                while peek() is not None:
                    c = peek()
                    pos += 1
                    if c == "(":
                        depth += 1
                    elif c == ")":
                        depth -= 1
                        if depth == 0:
                            break
                test_only = True
            elif peek() is not None and peek() in ".,":
                pos += 1
                test_only = True
            atom = []
            if not braced:
                while peek() is not None and peek() not in " \t":
                    atom.append(peek())
                    pos += 1
            else:
                while True:
                    if peek() == "\\" and peek(1) is not None:
                        atom.append(peek(1))
                        pos += 2
                    elif peek() is not None and peek() in WORD_CHARS:
                        atom.append(peek())
                        pos += 1
                    else:
                        break
            atom = "".join(atom)
            starred = False
            if atom.endswith("*"):
                starred = True
                atom = atom[:-1]
            elif peek() == "*":
                starred = True
                pos += 1
            if not test_only:
                atoms.append((atom, starred))
            if not braced:
                return
            skip_blanks()
            c = peek()
            if c is not None and c in "&|":
                pos += 1
                continue
            if c == ":":
                pos += 1
                scan_text(True)
                if peek() == ";":
                    pos += 1
                    continue
            if peek() == "}":
                pos += 1
            return

    scan_text(False)
    return atoms


def brace_body_end(data, start):
    """Where the brace body starting at `start` of `data` (bytes) ends, as
    (place of its ";" or "}", whether it holds %* at its own level), or None
    when the text ends first.  Mirrors the body reading of
    specs/spec_interpreter.cc (a unit test compares the two)."""
    nesting = 0
    has_star = False
    p = start
    n = len(data)
    while True:
        if p == n:
            return None
        c = data[p]
        if c == ord(";"):
            if nesting == 0:
                return p, has_star
        elif c == ord("}"):
            if nesting == 0:
                return p, has_star
            nesting -= 1
        elif c == ord("{"):
            nesting += 1
        elif c == ord("\\"):
            if p + 1 != n:
                p += 1
        elif c == ord("%"):
            if p + 1 != n:
                if data[p + 1] == ord("*") and nesting == 0:
                    has_star = True
                if data[p + 1] != ord("{"):
                    p += 1
        p += 1


class Pool:
    def __init__(self):
        self.parts = []
        self.size = 0
        self.known = {}

    def add(self, text):
        if text in self.known:
            return self.known[text]
        ref = (self.size, len(text.encode("utf-8")))
        self.known[text] = ref
        self.parts.append(text)
        self.size += ref[1] + 1
        return ref


def generate(rows, specs, texts, selfs, source):
    pool = Pool()
    row_refs = []
    for row in rows:
        key = pool.add(row.name)
        spec = pool.add(row.text)
        cpp = pool.add(row.preprocessor) if row.preprocessor is not None \
            else None
        row_refs.append((key, spec, cpp, row.flags, row.name))
    spec_refs = [(pool.add(s.name), pool.add(s.text)) for s in specs]
    text_refs = [(t.name, pool.add(t.text)) for t in texts]
    self_refs = [pool.add(s.text) for s in selfs]

    # The switch atoms of every text switch validation scans, by the text's
    # place in the pool.
    scanned = {}
    scanned_texts = ([r.text for r in rows] +
                     [r.preprocessor for r in rows
                      if r.preprocessor is not None] +
                     [s.text for s in specs] + [t.text for t in texts])
    for text in scanned_texts:
        scanned[pool.add(text)] = switch_atoms(text)
    atom_refs = []
    text_atoms = []
    for text_ref in sorted(scanned):
        first = len(atom_refs)
        for atom, starred in scanned[text_ref]:
            atom_refs.append((pool.add(atom), starred))
        text_atoms.append((text_ref, first, len(atom_refs) - first))

    # Where each brace body of the spec texts ends, by the place in the pool
    # right after the ":" that starts it.
    bodies = {}
    for text in list(scanned_texts) + [s.text for s in selfs]:
        offset = pool.add(text)[0]
        data = text.encode("utf-8")
        for i, c in enumerate(data):
            if c != ord(":"):
                continue
            found = brace_body_end(data, i + 1)
            if found is not None:
                bodies[offset + i + 1] = (offset + found[0], found[1])

    def ref(r):
        return "{%d, %d}" % r

    out = []
    out.append("// Generated by specs/gen_builtin_specs.py from %s.\n"
               "// Do not edit: change the source and rebuild.\n"
               "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n"
               "#include <string_view>\n\nnamespace velk::builtin_data {\n\n"
               % source)
    out.append("// Every text, each followed by a NUL.\n"
               "inline constexpr char pool[] =\n")
    for part in pool.parts:
        out.append("    %s \"\\0\"\n" % cxx_string(part))
    out.append("    ;\n\n")
    out.append("struct text_ref {\n  std::uint32_t offset;\n"
               "  std::uint32_t length;\n};\n"
               "inline constexpr std::uint32_t no_text = 0xffffffffu;\n\n"
               "inline constexpr std::uint8_t row_combinable = 1;\n"
               "inline constexpr std::uint8_t row_needs_preprocessing = 2;\n\n"
               "struct row_ref {\n  text_ref key;\n  text_ref spec;\n"
               "  text_ref preprocessor; // offset no_text: none\n"
               "  std::uint8_t flags;\n};\n\n")
    out.append("inline constexpr std::size_t row_count = %d;\n" % len(rows))
    out.append("inline constexpr row_ref rows[row_count] = {\n")
    for key, spec, cpp, flags, name in row_refs:
        cpp_text = ref(cpp) if cpp is not None else "{no_text, 0}"
        out.append("    {%s, %s, %s, %d}, // %s\n"
                   % (ref(key), ref(spec), cpp_text, flags, name))
    out.append("};\n\n")
    out.append("struct spec_ref {\n  text_ref name;\n  text_ref text;\n};\n\n")
    out.append("inline constexpr std::size_t spec_count = %d;\n" % len(specs))
    out.append("inline constexpr spec_ref specs[spec_count] = {\n")
    for name, text in spec_refs:
        out.append("    {%s, %s},\n" % (ref(name), ref(text)))
    out.append("};\n\n")
    out.append("inline constexpr std::size_t self_spec_count = %d;\n"
               % len(selfs))
    out.append("inline constexpr text_ref self_specs[%d] = {\n"
               % max(len(selfs), 1))
    for r in self_refs or [(0, 0)]:
        out.append("    %s,\n" % ref(r))
    out.append("};\n\n")
    out.append("// The switch atoms named by the texts switch validation "
               "scans, found\n"
               "// when the program was built.\n"
               "struct atom_ref {\n  text_ref name;\n  bool starred;\n};\n"
               "inline constexpr atom_ref atoms[%d] = {\n"
               % max(len(atom_refs), 1))
    for r, starred in atom_refs or [((0, 0), False)]:
        out.append("    {%s, %s},\n" % (ref(r), "true" if starred else "false"))
    out.append("};\n\n")
    out.append("// A text (by its place in the pool) and its atoms "
               "atoms[first, first + count),\n"
               "// in the order of the pool.\n"
               "struct text_atoms {\n  text_ref text;\n  std::uint32_t first;\n"
               "  std::uint32_t count;\n};\n"
               "inline constexpr std::size_t scanned_text_count = %d;\n"
               "inline constexpr text_atoms scanned_texts[scanned_text_count] "
               "= {\n" % len(text_atoms))
    for r, first, count in text_atoms:
        out.append("    {%s, %d, %d},\n" % (ref(r), first, count))
    out.append("};\n\n")
    out.append("// Where each brace body of the texts ends: `start` is the "
               "place in the\n"
               "// pool right after a \":\", `end` that of the \";\" or "
               "\"}\" ending the body\n"
               "// that starts there, `star` whether it holds %%* at its own "
               "level.\n"
               "// Sorted by `start`.\n"
               "struct body_ref {\n  std::uint32_t start;\n"
               "  std::uint32_t end;\n  bool star;\n};\n"
               "inline constexpr std::size_t body_count = %d;\n"
               "inline constexpr body_ref bodies[%d] = {\n"
               % (len(bodies), max(len(bodies), 1)))
    for start in sorted(bodies) or [None]:
        if start is None:
            out.append("    {0, 0, false},\n")
            continue
        end, star = bodies[start]
        out.append("    {%d, %d, %s},\n"
                   % (start, end, "true" if star else "false"))
    out.append("};\n\n")
    out.append("constexpr std::string_view view(text_ref r) {\n"
               "  return {pool + r.offset, r.length};\n}\n\n")
    out.append("} // namespace velk::builtin_data\n\nnamespace velk {\n\n")
    out.append("// The named specs, by their position in the built-in list.\n"
               "enum builtin_spec_id : std::uint8_t {\n")
    for s in specs:
        out.append("  spec_%s,\n" % s.name)
    out.append("};\n\n")
    for name, r in text_refs:
        out.append("inline constexpr std::string_view %s_text =\n"
                   "    builtin_data::view(%s);\n" % (name, ref(r)))
    out.append("\n} // namespace velk\n")
    return "".join(out)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: gen_builtin_specs.py SPECS OUTPUT_DIR\n")
        return 2
    source, outdir = argv[1], argv[2]
    try:
        entries = parse(source)
        rows, specs, texts, selfs = check(entries)
    except SpecsError as e:
        sys.stderr.write("%s:%d: error: %s\n" % (source, e.line, e.message))
        return 1
    text = generate(rows, specs, texts, selfs, os.path.basename(source))
    target = os.path.join(outdir, "specs", "builtin_spec_data.h")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    try:
        with open(target, encoding="utf-8") as f:
            if f.read() == text:
                return 0  # unchanged: keep the time stamp
    except OSError:
        pass
    tmp = target + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
