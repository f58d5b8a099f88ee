#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the string
literals of the unit tests (adjacent literals joined, raw strings included),
keeping those that look like an input of the target. Run again after tests
change; files are named by content hash, so reruns only add files."""
import hashlib
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
LITERAL = re.compile(r'R"([^(\s]*)\((.*?)\)\1"|"((?:[^"\\\n]|\\.)*)"', re.S)
SIMPLE_ESCAPES = {'n': '\n', 't': '\t', 'r': '\r', '0': '\0', '\\': '\\', '"': '"', "'": "'"}


def unescape(body):
    out = bytearray()
    i = 0
    while i < len(body):
        c = body[i]
        if c != '\\':
            out += c.encode()
            i += 1
            continue
        e = body[i + 1]
        if e == 'x':
            m = re.match(r'[0-9A-Fa-f]+', body[i + 2:])
            out.append(int(m.group(0), 16) & 0xFF)
            i += 2 + len(m.group(0))
        elif e in 'uU':
            n = 4 if e == 'u' else 8
            out += chr(int(body[i + 2:i + 2 + n], 16)).encode()
            i += 2 + n
        else:
            out += SIMPLE_ESCAPES.get(e, e).encode()
            i += 2
    return bytes(out)


def literals(path):
    """Each run of adjacent literals, concatenated."""
    text = path.read_text()
    runs, current, last_end = [], None, None
    for m in LITERAL.finditer(text):
        value = m.group(2).encode() if m.group(2) is not None else unescape(m.group(3))
        if current is not None and text[last_end:m.start()].strip() == '':
            current += value
        else:
            if current is not None:
                runs.append(current)
            current = value
        last_end = m.end()
    if current is not None:
        runs.append(current)
    return runs


TARGETS = {
    'note_file': (['core/src/note/*_test.cpp', 'core/src/yaml/*_test.cpp', 'core/src/store/*_test.cpp'],
                  lambda s: b'---' in s or b': ' in s),
    'stdio_loop': (['mcp/src/server/stdio_loop_test.cpp', 'mcp/src/app/server_e2e_test.cpp'],
                   lambda s: s.lstrip().startswith(b'{')),
    'search_query': (['core/src/query/search*_test.cpp'], lambda s: 0 < len(s) < 200),
    'links': (['core/src/links/*_test.cpp', 'core/src/index/indexer_test.cpp'],
              lambda s: b'[[' in s or b'://' in s),
    'config': (['core/src/config/*_test.cpp'], lambda s: s.lstrip().startswith(b'{')),
}

for target, (patterns, wanted) in TARGETS.items():
    folder = ROOT / 'fuzz' / 'corpus' / target
    folder.mkdir(parents=True, exist_ok=True)
    for pattern in patterns:
        for test in sorted(ROOT.glob(pattern)):
            for value in literals(test):
                if wanted(value) and len(value) <= 4096:
                    (folder / hashlib.sha1(value).hexdigest()[:16]).write_bytes(value)
    print(target, len(list(folder.iterdir())))
