#!/usr/bin/env python3
"""Every text the code passes to GLS() must stand in the English string table, so that
translators see it; every table must parse, and no translation may name a text the English
table lacks, and no English text a Linux user reads names what another system has (the Finder,
its Get Info panel, AppleScript, aliases, invisible or locked items). Prints 'N passed, N failed'."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def gls_arguments(text):
    """The text inside each GLS( ... ), with nested parentheses."""
    for m in re.finditer(r'\bGLS\(', text):
        depth, i = 1, m.end()
        while i < len(text) and depth:
            c = text[i]
            if c == '"':
                i = literal.match(text, i).end()
                continue
            depth += c == '('
            depth -= c == ')'
            i += 1
        yield text[m.end():i - 1]


def phrases_in_code():
    found = {}
    sources = sorted((root / 'src').rglob('*.[ch]*'))
    constants = {}
    for path in sources:
        constants.update(re.findall(r'constexpr const char\* (k\w+) =\s*((?:"(?:[^"\\]|\\.)*"\s*)+);',
                                    path.read_text(encoding='utf-8')))
    for path in sources:
        text = path.read_text(encoding='utf-8')
        for arg in gls_arguments(text):
            for name, value in constants.items():
                arg = re.sub(r'\b%s\b' % name, lambda _m, v=value: v, arg)
            # Adjacent literals are one text; a ternary's two branches are two.
            for part in re.split(r'[?:](?=(?:[^"]*"[^"]*")*[^"]*$)', arg):
                pieces = literal.findall(part)
                if pieces:
                    found.setdefault(''.join(pieces), path.relative_to(root))
    return found


def table(path):
    entries = {}
    text = path.read_text(encoding='utf-8')
    text = re.sub(r'/\*.*?\*/', '', text, flags=re.S)
    for key, value in re.findall(r'"((?:[^"\\]|\\.)*)"\s*=\s*"((?:[^"\\]|\\.)*)"\s*;', text):
        entries[key] = value
    return entries


failed = 0
english = table(root / 'resources/en.lproj/Localizable.strings')
code = phrases_in_code()
for phrase, where in sorted(code.items()):
    if phrase not in english:
        print(f'missing from en.lproj: "{phrase}" (used in {where})')
        failed += 1
for lproj in sorted((root / 'resources').glob('*.lproj')):
    for key in table(lproj / 'Localizable.strings'):
        if key not in english:
            print(f'{lproj.name} translates a text English does not have: "{key}"')
            failed += 1
# The keys keep their first wording (stored and translated by it); the English values speak Linux.
foreign = re.compile(r'\bFinder\b|Get Info|AppleScript|\balias(es)?\b|\binvisible\b|\b[Ll]ocked\b')
for key, value in sorted(english.items()):
    if foreign.search(value):
        print(f'en.lproj reads "{value}": a word of another system, for "{key}"')
        failed += 1
passed = len(code)
print(f'{passed} passed, {failed} failed')
sys.exit(1 if failed else 0)
