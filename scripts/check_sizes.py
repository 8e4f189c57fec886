#!/usr/bin/env python3
"""Checks the sizes of the program's source files: no file over 1,200 lines and
no function body over 120 lines.

    usage: scripts/check_sizes.py <source folder>

The files checked are the C and C++ sources and headers of the change (tracked,
or new and not ignored). Left out, as they are not the program: test programs
and their helpers (folders named tests/, testing/ and fuzz/) and the benchmarks
(bench/). Generated files (moc, rcc, configured headers) live in the build tree
and are never among them.

A function body runs from the brace that opens it to the brace that closes it,
both lines counted; a lambda or a local class inside a function counts towards
the function that holds it. Comments, strings and preprocessor lines are blanked
before the braces are read, so a brace in one of them never counts.
"""
import os
import re
import subprocess
import sys

MAX_FILE_LINES = 1200
MAX_FUNCTION_LINES = 120
SOURCE_SUFFIXES = ('.c', '.cc', '.cpp', '.cxx', '.h', '.hh', '.hpp')
LEFT_OUT_FOLDERS = {'tests', 'testing', 'fuzz', 'bench'}

SCOPE_WORDS = re.compile(r'\b(namespace|class|struct|union|enum)\b')
CONTROL_WORDS = re.compile(r'^(if|for|while|switch|catch|do|else|try)\b')
NAME_BEFORE_PARAMETERS = re.compile(r'([~\w:]+(?:\s*operator\s*\S+?)?)\s*\(')


def source_files(root):
    try:
        listed = subprocess.run(
            ['git', '-C', root, 'ls-files', '--cached', '--others', '--exclude-standard'],
            check=True, capture_output=True, text=True).stdout.split('\n')
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, subfolders, names in os.walk(root):
            subfolders[:] = [s for s in subfolders
                             if not s.startswith('.') and not s.startswith('build')]
            listed += [os.path.relpath(os.path.join(folder, n), root) for n in names]
    for path in sorted(p for p in listed if p):
        if not path.endswith(SOURCE_SUFFIXES):
            continue
        if LEFT_OUT_FOLDERS & set(path.split('/')[:-1]):
            continue
        if os.path.isfile(os.path.join(root, path)):
            yield path


def blank_code(text):
    """Returns the text with comments, string and character literals and
    preprocessor lines replaced by spaces, its newlines kept."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if c == '\n':
            out.append(c)
            i += 1
            line_start = True
            continue
        if line_start and c in ' \t':
            out.append(c)
            i += 1
            continue
        if line_start and c == '#':
            # A preprocessor line with its continuations.
            while i < n and text[i] != '\n':
                if text[i] == '\\' and i + 1 < n and text[i + 1] == '\n':
                    out.append(' \n')
                    i += 2
                    continue
                out.append(' ')
                i += 1
            continue
        line_start = False
        if text.startswith('//', i):
            while i < n and text[i] != '\n':
                out.append(' ')
                i += 1
            continue
        if text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i:i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            end = text.find(')' + raw.group(1) + '"', i + raw.end())
            end = n if end < 0 else end + len(raw.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
            continue
        if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum() \
                and re.match(r'[0-9]', text[i - 1]) and re.match(r'[0-9a-fA-F]', text[i + 1]):
            out.append(' ')  # a digit separator
            i += 1
            continue
        if c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            j = min(j + 1, n)
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def is_function_head(head):
    """Whether the text before an opening brace at namespace or class level
    ends a function's head (and not a class, an enum or an initialiser)."""
    head = ' '.join(head.split())
    if not head or ')' not in head or head.endswith('='):
        return False
    if CONTROL_WORDS.match(head):
        return False
    if SCOPE_WORDS.search(head.split('(')[0]):
        return False
    return True


def long_functions(code):
    """Yields (first line, line count, name) of each function body over the
    limit."""
    stack = []  # one entry per open brace: (is a function body, line, name)
    head_start = 0
    line = 1
    for i, c in enumerate(code):
        if c == '\n':
            line += 1
        elif c == '{':
            inside_function = any(entry[0] for entry in stack)
            head = code[head_start:i]
            opens_function = not inside_function and is_function_head(head)
            name = ''
            if opens_function:
                names = NAME_BEFORE_PARAMETERS.findall(' '.join(head.split()))
                name = names[0] if names else '?'
            stack.append((opens_function, line, name))
            head_start = i + 1
        elif c == '}':
            if stack:
                opens_function, first, name = stack.pop()
                if opens_function and line - first + 1 > MAX_FUNCTION_LINES:
                    yield first, line - first + 1, name
            head_start = i + 1
        elif c == ';':
            head_start = i + 1


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: check_sizes.py <source folder>')
    root = sys.argv[1]
    faults = 0
    files = 0
    for path in source_files(root):
        files += 1
        with open(os.path.join(root, path), encoding='utf-8', errors='replace') as f:
            text = f.read()
        lines = text.count('\n') + (0 if text.endswith('\n') or not text else 1)
        if lines > MAX_FILE_LINES:
            print(f'FAIL {path}: {lines} lines (at most {MAX_FILE_LINES})')
            faults += 1
        for first, count, name in long_functions(blank_code(text)):
            print(f'FAIL {path}:{first}: {name} is {count} lines (at most {MAX_FUNCTION_LINES})')
            faults += 1
    if faults:
        print(f'{faults} fault(s)')
        return 1
    print(f'ok   {files} source files of the program: none over {MAX_FILE_LINES} lines, '
          f'no function over {MAX_FUNCTION_LINES}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
