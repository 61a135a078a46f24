#!/usr/bin/env python3
"""Turns the fixture books' manifest.json into a C++ table: the initializer
list of FixtureBook in fixture_books.h, one entry per book in manifest order."""
import json
import sys


def literal(text):
    # UTF-8 bytes in octal escapes: never swallow a following digit the way \x would.
    return '"' + ''.join(c if 32 <= ord(c) < 127 and c not in '"\\?' else '\\%03o' % ord(c)
                         for c in text.encode('utf-8').decode('latin-1')) + '"'


def strings(items):
    return '{' + ', '.join(literal(s) for s in items) + '}'


def place(entry):
    if not entry:
        return '{}'
    g = entry.get
    return '{true, %du, %du, %du, %du, %s}' % (entry['offset'], entry['size'], g('width', 0),
                                               g('height', 0), literal(g('sha256', '')))


def book(b):
    g = b.get
    fields = [literal(b['file']), literal(b['sha256']), 'true' if b['valid'] else 'false',
              *('%du' % g(k, 0) for k in ('record_count', 'creation_time', 'text_encoding',
                                          'locale', 'image_record_base', 'first_non_book_record')),
              literal(g('title', '')), strings(g('authors', [])), strings(g('contributors', [])),
              literal(g('publisher', '')), literal(g('published_text', '')),
              *('true' if g(k) else 'false' for k in ('is_sample', 'is_personal', 'is_encrypted')),
              place(g('cover')), place(g('cover_with_use_mobi_thumbnail')), place(g('source'))]
    return '{' + ', '.join(fields) + '}'


def main(source, target):
    with open(source, encoding='utf-8') as f:
        books = json.load(f)
    with open(target, 'w', encoding='ascii') as f:
        f.write('// Generated from manifest.json by manifest_table.py.\n')
        f.write(',\n'.join(book(b) for b in books) + '\n')


if __name__ == '__main__':
    main(*sys.argv[1:])
