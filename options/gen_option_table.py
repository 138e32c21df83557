#!/usr/bin/env python3
"""Turn the option table description into constant C++ data.

Usage: gen_option_table.py TABLE OUTPUT_DIR

Reads TABLE (options/option_table.txt, whose header describes the format),
checks it, and writes into OUTPUT_DIR:

  options/option_count.h   option_count and option_enum_count
  options/option_texts.h   the sorted option texts, for compile-time lookups
  options/option_values.h  option_values and option_values_set
  option_table_data.cc     option_table, option_enums and their value lists

A malformed table is reported as "TABLE:LINE: error: MESSAGE" on standard
error, with exit status 1, and nothing is written.
"""

import os
import re
import sys

LANGUAGES = ["Ada", "AdaKite", "AdaFern", "C", "C++", "D", "Fortran", "Go",
             "LTO", "LoomDump", "Modula-2", "ObjC", "ObjC++", "Rust"]

CLASS_MARKS = {
    "P": "OPTF_PARAMS",
    "W": "OPTF_WARNING",
    "O": "OPTF_OPTIMIZATION",
    "D": "OPTF_DRIVER",
    "T": "OPTF_TARGET",
    "C": "OPTF_COMMON",
    "U": "OPTF_UNDOCUMENTED",
    "M": "OPTF_MARK",
}
FLAG_BITS = {
    "OPTF_PARAMS": 0x10000,
    "OPTF_WARNING": 0x20000,
    "OPTF_OPTIMIZATION": 0x40000,
    "OPTF_DRIVER": 0x80000,
    "OPTF_TARGET": 0x100000,
    "OPTF_COMMON": 0x200000,
    "OPTF_JOINED": 0x400000,
    "OPTF_SEPARATE": 0x800000,
    "OPTF_UNDOCUMENTED": 0x1000000,
    "OPTF_MARK": 0x2000000,
}
ARGUMENT_MARKS = {
    "J": (True, False, False),
    "J?": (True, False, True),
    "S": (False, True, False),
    "JS": (True, True, False),
    "JS?": (True, True, True),
}
ATTRIBUTE_LETTERS = {
    "d": "ATTR_DISABLED",
    "y": "ATTR_NO_ARG_IN_DRIVER",
    "x": "ATTR_DRIVER_REJECTS",
    "n": "ATTR_NO_NEGATIVE",
    "u": "ATTR_UNSIGNED_ARG",
    "w": "ATTR_WIDE_VALUE",
    "l": "ATTR_LOWERCASE_ARG",
    "z": "ATTR_SIZE_UNITS",
}
ATTRIBUTE_WORDS = {
    "alias-if-separate": "ATTR_ALIAS_IF_SEPARATE",
    "alias-negates": "ATTR_ALIAS_NEGATES",
}
ATTR_BITS = {
    "ATTR_DISABLED": 1 << 0,
    # ATTR_EXTRA_ARGS occupies bits 1 and 2.
    "ATTR_ALIAS_IF_SEPARATE": 1 << 3,
    "ATTR_ALIAS_NEGATES": 1 << 4,
    "ATTR_NO_ARG_IN_DRIVER": 1 << 5,
    "ATTR_DRIVER_REJECTS": 1 << 6,
    "ATTR_NO_NEGATIVE": 1 << 7,
    "ATTR_ARG_OPTIONAL": 1 << 8,
    "ATTR_UNSIGNED_ARG": 1 << 9,
    "ATTR_WIDE_VALUE": 1 << 10,
    "ATTR_LOWERCASE_ARG": 1 << 11,
    "ATTR_SIZE_UNITS": 1 << 12,
}
ATTR_EXTRA_ARGS_SHIFT = 1

# Variable kinds, and the C++ type of the field each stores into.
VAR_KINDS = ["int", "equals", "clearbits", "setbits", "size", "string",
             "enum", "deferred"]
VK_NAMES = {
    "int": "VK_INT",
    "equals": "VK_EQUALS",
    "clearbits": "VK_CLEAR_BITS",
    "setbits": "VK_SET_BITS",
    "size": "VK_SIZE",
    "string": "VK_STRING",
    "enum": "VK_ENUM",
    "deferred": "VK_DEFERRED",
}
KINDS_WITH_VALUE = {"equals", "clearbits", "setbits"}
FIELD_TYPES = {
    "int": "std::int32_t",
    "unsigned": "std::uint32_t",
    "wide": "std::int64_t",
    "text": "const char*",
    "deferred": "deferred_option_list*",
}
NEGATABLE_PREFIXES = ("-W", "-f", "-m", "-g")
LIST_KINDS = {"groups": 1, "bits": 2}
NO_OPTION = None  # stands for option_count until codes are known

TOKEN_RE = re.compile(
    r'\s*(?:'
    r'(?P<string>"(?:[^"\\]|\\.)*")'
    r'|(?P<keyed>[A-Za-z][A-Za-z0-9-]*="(?:[^"\\]|\\.)*")'
    r'|(?P<comment>#.*)'
    r'|(?P<word>[^\s"#]+)'
    r'|(?P<bad>"[^\n]*)'
    r')')
IDENT_RE = re.compile(r"[A-Za-z][A-Za-z0-9_]*$")
INT_RE = re.compile(r"-?(?:0[xX][0-9A-Fa-f]+|[0-9]+)$")
RANGE_RE = re.compile(r"(-?[0-9]+)\.\.(-?[0-9]+)$")


class TableError(Exception):
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
            if i + 1 >= len(body):
                raise TableError(line, "backslash at the end of a string")
            e = body[i + 1]
            if e not in 'nt"\\':
                raise TableError(line, "unknown escape '\\%s' in a string" % e)
            out.append({"n": "\n", "t": "\t", '"': '"', "\\": "\\"}[e])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Token:
    def __init__(self, kind, text, value=None, key=None):
        self.kind = kind  # "string", "word" or "keyed"
        self.text = text
        self.value = value  # resolved text of strings and keyed strings
        self.key = key


def tokenize(text, line):
    tokens = []
    pos = 0
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        m = TOKEN_RE.match(text, pos)
        if not m or m.end() == pos:
            raise TableError(line, "cannot read %r" % text[pos:].strip())
        pos = m.end()
        if m.group("comment") is not None:
            break
        if m.group("bad") is not None:
            raise TableError(line, "unterminated string")
        if m.group("string") is not None:
            s = m.group("string")
            tokens.append(Token("string", s, unquote(s, line)))
        elif m.group("keyed") is not None:
            s = m.group("keyed")
            key, quoted = s.split("=", 1)
            tokens.append(Token("keyed", s, unquote(quoted, line), key))
        else:
            tokens.append(Token("word", m.group("word")))
    return tokens


def parse_int(text, line, what):
    if not INT_RE.match(text):
        raise TableError(line, "%s %r is not an integer" % (what, text))
    return int(text, 0)


class Option:
    def __init__(self, text, line):
        self.text = text
        self.line = line
        self.classes = set()
        self.joined = False
        self.separate = False
        self.arg_optional = False
        self.attributes = set()
        self.extra_args = 0
        self.range = None
        self.alias = None  # option text, "ignored" or "removed"
        self.alias_argument = None
        self.negated_alias_argument = None
        self.enum = None
        self.list_kind = None
        self.field = None
        self.kind = None
        self.kind_value = 0
        self.missing = None
        self.warning = None
        self.languages = None  # None: the default languages
        self.help = None
        self.ring = None
        # Computed once the table is sorted.
        self.code = None
        self.back_chain = None
        self.negation_link = None

    def takes_argument(self):
        return self.joined or self.separate


class Enumeration:
    def __init__(self, name, line):
        self.name = name
        self.line = line
        self.unknown = None
        self.heading = None
        self.values = []  # (text, value, flags, line)
        self.users = []


class Field:
    def __init__(self, name, type_name, line, start=None, own=False):
        self.name = name
        self.type = type_name
        self.line = line
        self.start = start
        self.start_line = None
        self.own = own  # declared by a "field" line


class Table:
    def __init__(self):
        self.options = {}
        self.enums = {}
        self.enum_order = []
        self.rings = []  # (line, [texts])
        self.fields = {}
        self.field_order = []
        self.starts = []  # (line, field, value text)
        self.default_languages = None
        self.helps = []  # (line, text, help)


def parse_languages(text, line):
    if text == "none":
        return []
    if text == "all":
        return list(LANGUAGES)
    names = text.split(",")
    for name in names:
        if name not in LANGUAGES:
            raise TableError(line, "unknown language %r" % name)
    if len(set(names)) != len(names):
        raise TableError(line, "language listed twice in %r" % text)
    return names


def parse_option(table, tokens, line):
    text = tokens[0].value
    if not text.startswith("-") or len(text) < 2:
        raise TableError(line, "option text %r does not start with \"-\" "
                         "followed by a name" % text)
    if any(c.isspace() for c in text):
        raise TableError(line, "option text %r contains white space" % text)
    if len(text) - 1 > 255:
        raise TableError(line, "option text %r is too long" % text)
    if text in table.options:
        raise TableError(line, "option %r already given on line %d"
                         % (text, table.options[text].line))
    opt = Option(text, line)
    seen = set()

    def once(key):
        if key in seen:
            raise TableError(line, "%s given twice for %r" % (key, text))
        seen.add(key)

    i = 1
    while i < len(tokens):
        tok = tokens[i]
        i += 1
        if tok.kind == "string":
            raise TableError(line, "unexpected string %s" % tok.text)
        if tok.kind == "keyed":
            once(tok.key)
            if tok.key == "missing":
                opt.missing = tok.value
            elif tok.key == "warn":
                opt.warning = tok.value
            else:
                raise TableError(line, "unknown key %r" % tok.key)
            continue
        word = tok.text
        if word in CLASS_MARKS:
            once(word)
            opt.classes.add(CLASS_MARKS[word])
        elif word in ARGUMENT_MARKS:
            once("argument mark")
            opt.joined, opt.separate, opt.arg_optional = ARGUMENT_MARKS[word]
        elif re.fullmatch(r"[a-z]+", word) and all(
                c in ATTRIBUTE_LETTERS for c in word):
            for c in word:
                once("attribute " + c)
                opt.attributes.add(ATTRIBUTE_LETTERS[c])
        elif word in ATTRIBUTE_WORDS:
            once(word)
            opt.attributes.add(ATTRIBUTE_WORDS[word])
        elif RANGE_RE.match(word):
            once("range")
            m = RANGE_RE.match(word)
            lo, hi = int(m.group(1)), int(m.group(2))
            if lo > hi:
                raise TableError(line, "empty range %s" % word)
            for v in (lo, hi):
                if not -2**31 <= v < 2**31:
                    raise TableError(line, "range bound %d does not fit in "
                                     "32 bits" % v)
            opt.range = (lo, hi)
        elif word == "=":
            once("alias")
            if i >= len(tokens):
                raise TableError(line, "\"=\" names no alias target")
            target = tokens[i]
            i += 1
            if target.kind == "word" and target.text in ("ignored",
                                                         "removed"):
                opt.alias = target.text
                continue
            if target.kind != "string":
                raise TableError(line, "alias target must be a quoted option "
                                 "text, \"ignored\" or \"removed\"")
            opt.alias = target.value
            if i < len(tokens) and tokens[i].kind == "string":
                opt.alias_argument = tokens[i].value
                i += 1
                if (i + 1 < len(tokens) and tokens[i].kind == "word"
                        and tokens[i].text == "/"):
                    if tokens[i + 1].kind != "string":
                        raise TableError(line, "\"/\" must be followed by "
                                         "the negated alias argument")
                    opt.negated_alias_argument = tokens[i + 1].value
                    i += 2
            if (i < len(tokens) and tokens[i].kind == "word"
                    and tokens[i].text == "/"):
                raise TableError(line, "a negated alias argument needs a "
                                 "positive one")
        elif "=" in word:
            key, value = word.split("=", 1)
            once(key)
            if key == "enum":
                if not IDENT_RE.match(value):
                    raise TableError(line, "bad enumeration name %r" % value)
                opt.enum = value
            elif key == "list":
                if value not in LIST_KINDS:
                    raise TableError(line, "list= must be groups or bits")
                opt.list_kind = value
            elif key == "var":
                parse_var(opt, value, line)
            elif key == "lang":
                opt.languages = parse_languages(value, line)
            elif key == "args":
                n = parse_int(value, line, "argument count")
                if not 1 <= n <= 4:
                    raise TableError(line, "args= must be 1 to 4")
                opt.extra_args = n - 1
            else:
                raise TableError(line, "unknown key %r" % key)
        else:
            raise TableError(line, "unknown mark %r" % word)
    table.options[text] = opt


def parse_var(opt, value, line):
    parts = value.split(":")
    name = parts[0]
    if not IDENT_RE.match(name) or "__" in name:
        raise TableError(line, "bad variable name %r" % name)
    kind = parts[1] if len(parts) > 1 else None
    if kind is not None and kind not in VAR_KINDS:
        raise TableError(line, "unknown variable kind %r" % kind)
    if kind in KINDS_WITH_VALUE:
        if len(parts) != 3:
            raise TableError(line, "variable kind %s needs a value" % kind)
        opt.kind_value = parse_int(parts[2], line, "variable value")
        if not -2**63 <= opt.kind_value < 2**64:
            raise TableError(line, "variable value does not fit in 64 bits")
    elif len(parts) > 2:
        raise TableError(line, "variable kind %s takes no value" % kind)
    opt.field = name
    opt.kind = kind


def parse(path):
    table = Table()
    current_enum = None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, raw in enumerate(lines, 1):
        tokens = tokenize(raw, number)
        if not tokens:
            continue
        indented = raw[:1].isspace()
        first = tokens[0]
        if indented:
            if current_enum is None:
                raise TableError(number, "indented line outside an "
                                 "enumeration")
            parse_enum_value(current_enum, tokens, number)
            continue
        current_enum = None
        if first.kind == "string":
            parse_option(table, tokens, number)
        elif first.kind == "word" and first.text == "enum":
            current_enum = parse_enum(table, tokens, number)
        elif first.kind == "word" and first.text == "ring":
            texts = []
            for tok in tokens[1:]:
                if tok.kind != "string":
                    raise TableError(number, "ring lists quoted option texts")
                texts.append(tok.value)
            if not texts:
                raise TableError(number, "empty ring")
            table.rings.append((number, texts))
        elif first.kind == "word" and first.text == "field":
            parse_field(table, tokens, number)
        elif first.kind == "word" and first.text == "start":
            if len(tokens) != 3 or tokens[1].kind != "word":
                raise TableError(number, "expected: start FIELD VALUE")
            table.starts.append((number, tokens[1].text, tokens[2]))
        elif first.kind == "word" and first.text == "default-languages":
            if table.default_languages is not None:
                raise TableError(number, "default-languages given twice")
            names = [t.text for t in tokens[1:]]
            table.default_languages = parse_languages(",".join(names),
                                                      number) if names else []
        elif first.kind == "word" and first.text == "help":
            if (len(tokens) != 3 or tokens[1].kind != "string"
                    or tokens[2].kind != "string"):
                raise TableError(number, "expected: help \"OPTION\" \"TEXT\"")
            table.helps.append((number, tokens[1].value, tokens[2].value))
        else:
            raise TableError(number, "unknown line starting with %r"
                             % first.text)
    return table


def parse_enum(table, tokens, line):
    if len(tokens) < 2 or tokens[1].kind != "word" or not IDENT_RE.match(
            tokens[1].text):
        raise TableError(line, "expected: enum NAME")
    name = tokens[1].text
    if name in table.enums:
        raise TableError(line, "enumeration %s already declared on line %d"
                         % (name, table.enums[name].line))
    e = Enumeration(name, line)
    for tok in tokens[2:]:
        if tok.kind == "keyed" and tok.key == "unknown" and e.unknown is None:
            e.unknown = tok.value
        elif tok.kind == "keyed" and tok.key == "heading" and e.heading is None:
            e.heading = tok.value
        else:
            raise TableError(line, "unexpected %s in an enumeration line"
                             % tok.text)
    table.enums[name] = e
    table.enum_order.append(e)
    return e


def parse_enum_value(e, tokens, line):
    if tokens[0].kind != "string" or len(tokens) < 2 or tokens[1].kind != (
            "word"):
        raise TableError(line, "expected: \"TEXT\" VALUE")
    text = tokens[0].value
    if text == "":
        raise TableError(line, "empty enumeration value text")
    value = parse_int(tokens[1].text, line, "enumeration value")
    if not -2**31 <= value < 2**31:
        raise TableError(line, "enumeration value does not fit in 32 bits")
    flags = 0
    for tok in tokens[2:]:
        if tok.kind == "word" and tok.text == "canonical":
            flags |= 1
        elif tok.kind == "word" and tok.text == "driver-only":
            flags |= 2
        elif tok.kind == "word" and tok.text.startswith("group="):
            group = parse_int(tok.text[6:], line, "group")
            if not 1 <= group < 2**30:
                raise TableError(line, "group must be a positive number")
            flags |= group << 2
        else:
            raise TableError(line, "unexpected %s in an enumeration value"
                             % tok.text)
    for other in e.values:
        if other[0] == text:
            raise TableError(line, "value %r already listed on line %d"
                             % (text, other[3]))
    e.values.append((text, value, flags, line))


def parse_field(table, tokens, line):
    if (len(tokens) != 4 or tokens[1].kind != "word"
            or tokens[2].kind != "word"):
        raise TableError(line, "expected: field NAME TYPE VALUE")
    name, type_name = tokens[1].text, tokens[2].text
    if not IDENT_RE.match(name) or "__" in name:
        raise TableError(line, "bad field name %r" % name)
    if type_name not in ("int", "unsigned", "wide", "text"):
        raise TableError(line, "field type must be int, unsigned, wide or "
                         "text")
    if name in table.fields:
        raise TableError(line, "field %s already declared" % name)
    f = Field(name, FIELD_TYPES[type_name], line, own=True)
    f.start = start_value(f, tokens[3], line)
    table.fields[name] = f
    table.field_order.append(f)


def start_value(field, token, line):
    """The C++ initializer of a field's start value."""
    if field.type == "const char*":
        if token.kind != "string":
            raise TableError(line, "the start value of a text field is a "
                             "quoted string")
        return cxx_string(token.value)
    if field.type == "deferred_option_list*":
        raise TableError(line, "a deferred list has no start value")
    if token.kind != "word":
        raise TableError(line, "the start value of %s is a number"
                         % field.name)
    v = parse_int(token.text, line, "start value")
    bits = 64 if field.type == "std::int64_t" else 32
    lo = 0 if field.type == "std::uint32_t" else -2**(bits - 1)
    hi = 2**bits - 1 if field.type == "std::uint32_t" else 2**(bits - 1) - 1
    if not lo <= v <= hi:
        raise TableError(line, "start value %d does not fit %s"
                         % (v, field.type))
    return str(v) if v >= 0 else "(%d)" % v


def check(table):
    """Resolve references and check everything the code relies on."""
    opts = table.options
    if not opts:
        raise TableError(1, "the table has no options")
    if len(opts) + 5 > 0xFFFF:
        raise TableError(1, "too many options for 16-bit codes")

    for line, texts in table.rings:
        for t in texts:
            if t not in opts:
                raise TableError(line, "ring names unknown option %r" % t)
            o = opts[t]
            if o.ring is not None:
                raise TableError(line, "option %r is already in the ring of "
                                 "line %d" % (t, o.ring[0]))
            o.ring = (line, texts)

    for line, text, help_text in table.helps:
        if text not in opts:
            raise TableError(line, "help for unknown option %r" % text)
        if opts[text].help is not None:
            raise TableError(line, "second help text for %r" % text)
        opts[text].help = help_text

    for o in opts.values():
        check_option(table, o)

    for e in table.enum_order:
        if not e.values:
            raise TableError(e.line, "enumeration %s has no values" % e.name)
        if not e.users:
            raise TableError(e.line, "enumeration %s is used by no option"
                             % e.name)
        kinds = {u.list_kind for u in e.users}
        if "groups" not in kinds:
            for text, _, flags, line in e.values:
                if flags >> 2:
                    raise TableError(line, "group given in enumeration %s, "
                                     "which no option uses as a group list"
                                     % e.name)
        if kinds & {"groups", "bits"}:
            for text, value, _, line in e.values:
                if value < 0:
                    raise TableError(line, "negative value in enumeration %s,"
                                     " used as a list" % e.name)

    for line, name, tok in table.starts:
        if name not in table.fields:
            raise TableError(line, "start value for unknown field %r" % name)
        f = table.fields[name]
        if f.start_line is not None or f.own:
            raise TableError(line, "second start value for field %s" % name)
        f.start = start_value(f, tok, line)
        f.start_line = line


def check_option(table, o):
    opts = table.options
    line = o.line
    attrs = o.attributes
    if o.arg_optional and not o.joined:
        raise TableError(line, "\"?\" needs a joined argument")
    if "ATTR_NO_ARG_IN_DRIVER" in attrs and not o.separate:
        raise TableError(line, "y needs a separate argument")
    if o.extra_args and not o.separate:
        raise TableError(line, "args= needs a separate argument")
    if "ATTR_SIZE_UNITS" in attrs and not attrs & {"ATTR_UNSIGNED_ARG",
                                                    "ATTR_WIDE_VALUE"}:
        raise TableError(line, "z needs u or w")
    if o.list_kind and o.enum is None:
        raise TableError(line, "list= needs enum=")

    # Aliases (invariants 5 and 6).
    if o.alias is not None:
        if o.alias in ("ignored", "removed"):
            if o.alias_argument is not None:
                raise TableError(line, "an alias of an ignored or removed "
                                 "option takes no alias argument")
        else:
            target = opts.get(o.alias)
            if target is None:
                raise TableError(line, "alias target %r is not in the table"
                                 % o.alias)
            if target is o:
                raise TableError(line, "option is an alias of itself")
            if (target.alias is not None
                    and "ATTR_ALIAS_IF_SEPARATE" not in target.attributes):
                raise TableError(line, "alias target %r is itself an alias"
                                 % o.alias)
            if o.alias_argument is not None:
                if o.takes_argument():
                    raise TableError(line, "an alias with an alias argument "
                                     "takes no argument itself")
                if "ATTR_ALIAS_NEGATES" in attrs:
                    raise TableError(line, "an alias with an alias argument "
                                     "cannot negate its target")
                if (o.negated_alias_argument is None
                        and "ATTR_NO_NEGATIVE" not in attrs
                        and o.text.startswith(NEGATABLE_PREFIXES)):
                    raise TableError(line, "an alias with only a positive "
                                     "alias argument must have no negative "
                                     "form (mark it n)")
    elif attrs & {"ATTR_ALIAS_IF_SEPARATE", "ATTR_ALIAS_NEGATES"}:
        raise TableError(line, "alias attribute on an option that is no "
                         "alias")

    # Enumerations (invariant 7) and variables.
    if o.enum is not None:
        e = table.enums.get(o.enum)
        if e is None:
            raise TableError(line, "unknown enumeration %r" % o.enum)
        e.users.append(o)
        if o.kind not in (None, "enum"):
            raise TableError(line, "an enumeration option stores its value "
                             "as var=FIELD:enum")
        o.kind = "enum"
        o.kind_value = LIST_KINDS.get(o.list_kind, 0)
    elif o.kind == "enum":
        raise TableError(line, "variable kind enum needs enum=")
    elif o.field is not None and o.kind is None:
        o.kind = "int"
    if o.field is not None:
        type_name = field_type(o)
        f = table.fields.get(o.field)
        if f is None:
            f = Field(o.field, type_name, line)
            table.fields[o.field] = f
            table.field_order.append(f)
        elif f.own:
            raise TableError(line, "field %s belongs to no option (line %d)"
                             % (o.field, f.line))
        elif f.type != type_name:
            raise TableError(line, "field %s is %s here but %s on line %d"
                             % (o.field, type_name, f.type, f.line))

    if o.languages is None:
        if o.classes & {"OPTF_DRIVER", "OPTF_COMMON", "OPTF_TARGET"}:
            o.languages = []
        else:
            o.languages = table.default_languages or []


def field_type(o):
    if o.kind == "string":
        return "const char*"
    if o.kind == "deferred":
        return "deferred_option_list*"
    if "ATTR_WIDE_VALUE" in o.attributes:
        return "std::int64_t"
    return "std::int32_t"


def compute(table):
    """Codes, back chains and negation links of the sorted table."""
    order = sorted(table.options.values(), key=lambda o: o.text.encode())
    for code, o in enumerate(order):
        o.code = code
    for code, o in enumerate(order):
        o.back_chain = NO_OPTION
        for earlier in range(code - 1, -1, -1):
            e = order[earlier]
            if e.joined and o.text.startswith(e.text):
                o.back_chain = earlier
                break
    for o in order:
        if o.ring is not None:
            members = o.ring[1]
            nxt = members[(members.index(o.text) + 1) % len(members)]
            o.negation_link = table.options[nxt].code
        elif (o.text.startswith(NEGATABLE_PREFIXES)
              and "ATTR_NO_NEGATIVE" not in o.attributes):
            o.negation_link = o.code
        else:
            o.negation_link = -1
    return order


# ---------------------------------------------------------------- output

def cxx_string(s):
    out = ['"']
    for c in s:
        if c == '"':
            out.append('\\"')
        elif c == "\\":
            out.append("\\\\")
        elif c == "\t":
            out.append("\\t")
        elif c == "\n":
            out.append("\\n")
        elif c == "?":
            out.append("\\?")  # no trigraphs, no surprises
        elif " " <= c <= "~":
            out.append(c)
        else:
            raise ValueError("non-ASCII character in %r" % s)
    out.append('"')
    return "".join(out)


class Pool:
    """The texts of the tables, each once, each followed by a NUL."""

    def __init__(self):
        self.parts = []
        self.size = 0
        self.known = {}

    def add(self, text):
        if text not in self.known:
            self.known[text] = self.size
            self.parts.append((self.size, text))
            self.size += len(text) + 1
        return self.known[text]

    def view(self, text):
        return "{%d, %d}" % (self.add(text), len(text))

    def text(self, text):
        return "{no_pooled_text}" if text is None else "{%d}" % self.add(text)

    def emit(self):
        lines = ["// Every text of the tables, each followed by a NUL.\n"
                 "constexpr char option_text_pool[] =\n"]
        for offset, text in self.parts:
            lines.append("    /* %d */ %s \"\\0\"\n" % (offset, cxx_string(text)))
        lines.append("    ;\n\n")
        return "".join(lines)


BANNER = ("// Generated by options/gen_option_table.py from "
          "options/option_table.txt.\n// Do not edit: change the table and "
          "rebuild.\n")


def emit_count(table, order):
    return (BANNER + "#pragma once\n\n#include <cstddef>\n\n"
            "namespace velk {\n\n"
            "// Number of entries of option_table; codes 0 to option_count - 1"
            " name\n// options, the codes just above are the special ones.\n"
            "inline constexpr std::size_t option_count = %d;\n\n"
            "// Number of entries of option_enums.\n"
            "inline constexpr std::size_t option_enum_count = %d;\n\n"
            "} // namespace velk\n" % (len(order), len(table.enum_order)))


def emit_texts(order):
    lines = [BANNER, "#pragma once\n\n#include <string_view>\n\n"
             "#include \"options/option_count.h\"\n\nnamespace velk {\n\n"
             "// The option texts in code order, for lookups while compiling."
             "\ninline constexpr std::string_view option_texts[option_count]"
             " = {\n"]
    for o in order:
        lines.append("    %s,\n" % cxx_string(o.text))
    lines.append("};\n\n} // namespace velk\n")
    return "".join(lines)


def emit_values(table):
    lines = [BANNER, "#pragma once\n\n#include <cstdint>\n\n"
             "namespace velk {\n\n"
             "struct deferred_option_list;\n\n"
             "// One field for every option variable, plus the variables of "
             "option\n// handling; a default-constructed object holds the "
             "start values.\nstruct option_values {\n"]
    for f in table.field_order:
        init = f.start if f.start is not None else (
            "nullptr" if f.type.endswith("*") else "0")
        lines.append("  %s %s = %s;\n" % (f.type, f.name, init))
    lines.append("};\n\n// The same fields, recording which ones were set "
                 "explicitly.\nstruct option_values_set {\n")
    for f in table.field_order:
        init = "nullptr" if f.type.endswith("*") else "0"
        lines.append("  %s %s = %s;\n" % (f.type, f.name, init))
    lines.append("};\n\n} // namespace velk\n")
    return "".join(lines)


def flags_expr(o):
    bits = 0
    for i, name in enumerate(LANGUAGES):
        if name in o.languages:
            bits |= 1 << i
    for c in o.classes:
        bits |= FLAG_BITS[c]
    if o.joined:
        bits |= FLAG_BITS["OPTF_JOINED"]
    if o.separate:
        bits |= FLAG_BITS["OPTF_SEPARATE"]
    return "0x%x" % bits


def attributes_expr(o):
    bits = o.extra_args << ATTR_EXTRA_ARGS_SHIFT
    for a in o.attributes:
        bits |= ATTR_BITS[a]
    if o.arg_optional:
        bits |= ATTR_BITS["ATTR_ARG_OPTIONAL"]
    return "0x%x" % bits


def alias_expr(o):
    if o.alias is None:
        return "option_count"
    if o.alias == "ignored":
        return "OPTION_IGNORE"
    if o.alias == "removed":
        return "OPTION_WARN_REMOVED"
    return str(o.alias_code)


def emit_data(table, order):
    by_text = table.options
    for o in order:
        if o.alias not in (None, "ignored", "removed"):
            o.alias_code = by_text[o.alias].code
    pool = Pool()
    lines = []
    for e in table.enum_order:
        lines.append("constexpr enum_value %s_values[] = {\n" % e.name)
        for text, value, flags, _ in e.values:
            lines.append("    {%s, %d, 0x%x},\n" % (cxx_string(text), value,
                                                    flags))
        lines.append("};\n")
    lines.append("\nstatic_assert(sizeof(option_values) < 65535,\n"
                 "              \"variable offsets must fit in 16 bits\");\n"
                 "\n} // namespace\n\n"
                 "constexpr option_enum option_enums[option_enum_count] = {\n")
    for e in table.enum_order:
        lines.append("    {%s, %s, %s_values, 4, store_int_enum_value, "
                     "load_int_enum_value},\n"
                     % (pool.text(e.heading), pool.text(e.unknown),
                        e.name))
    lines.append("};\n\n// text, help, missing_argument_message, "
                 "warning_message, alias_argument,\n"
                 "// negated_alias_argument, alias_target, back_chain, "
                 "text_length,\n// negation_link, flags, attributes, "
                 "variable_offset, enum_index,\n// variable_kind, "
                 "variable_value, range_min, range_max\n"
                 "constexpr option_record option_table[option_count] = {\n")
    enum_index = {e.name: i for i, e in enumerate(table.enum_order)}
    for o in order:
        offset = ("static_cast<std::uint16_t>(offsetof(option_values, %s))"
                  % o.field) if o.field else "no_variable"
        back = "option_count" if o.back_chain is None else str(o.back_chain)
        lo, hi = o.range if o.range else (-1, -1)
        kind = VK_NAMES[o.kind] if o.kind else "VK_INT"
        lines.append(
            "    /* %d %s */ {%s, %s, %s, %s, %s, %s, %s, %s, %d, %d, %s, %s, "
            "%s, %d, %s, %d, %d, %d},\n"
            % (o.code, o.text.replace("*/", "*\\/"), pool.view(o.text),
               pool.text(o.help), pool.text(o.missing),
               pool.text(o.warning), pool.text(o.alias_argument),
               pool.text(o.negated_alias_argument), alias_expr(o), back,
               len(o.text) - 1, o.negation_link, flags_expr(o),
               attributes_expr(o), offset,
               enum_index[o.enum] if o.enum else 0, kind,
               o.kind_value if o.kind_value < 2**63 else o.kind_value - 2**64,
               lo, hi))
    lines.append("};\n\n} // namespace velk\n")
    return "".join([BANNER, "#include <cstddef>\n\n"
                    "#include \"options/option_table.h\"\n"
                    "#include \"options/option_values.h\"\n\n"
                    "namespace velk {\n\n", pool.emit(),
                    "namespace {\n\n"] + lines)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == content:
                return  # unchanged: keep the timestamp
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(content)
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: %s TABLE OUTPUT_DIR\n" % argv[0])
        return 2
    path, out = argv[1], argv[2]
    try:
        table = parse(path)
        check(table)
        order = compute(table)
    except TableError as e:
        sys.stderr.write("%s:%d: error: %s\n" % (path, e.line, e.message))
        return 1
    except OSError as e:
        sys.stderr.write("%s: error: %s\n" % (path, e.strerror))
        return 1
    outputs = {
        "options/option_count.h": emit_count(table, order),
        "options/option_texts.h": emit_texts(order),
        "options/option_values.h": emit_values(table),
        "option_table_data.cc": emit_data(table, order),
    }
    for name, content in outputs.items():
        write(os.path.join(out, name), content)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
