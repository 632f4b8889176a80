#!/usr/bin/env python3
"""Turns a registry dump (as nicsim --dump writes it) into a .reg file for `reg import`.

    dump-to-reg.py DUMPFILE REGFILE
"""
import re
import sys

LINE = re.compile(r'^(key|value) "((?:[^"\\]|\\.)*)"(.*)$')


def unescape(text):
    return re.sub(r'\\(.)', r'\1', text)


def reg_text(text):
    return text.replace('\\', '\\\\').replace('"', '\\"')


def main(dump_path, reg_path):
    out = ['Windows Registry Editor Version 5.00', '']
    with open(dump_path, encoding='utf-8') as dump:
        for number, line in enumerate(dump, 1):
            line = line.rstrip('\n')
            if not line:
                continue
            match = LINE.match(line)
            if not match:
                sys.exit(f'{dump_path}:{number}: not a key or value line')
            what, name, rest = match.group(1), unescape(match.group(2)), match.group(3).split()
            if what == 'key':
                out += ['', f'[HKEY_LOCAL_MACHINE\\{name}]']
                continue
            kind, data = int(rest[0]), bytes.fromhex(rest[1] if len(rest) > 1 else '')
            if kind == 4 and len(data) == 4:
                value = 'dword:%08x' % int.from_bytes(data, 'little')
            else:
                prefix = 'hex' if kind == 3 else f'hex({kind:x})'
                value = prefix + ':' + ','.join('%02x' % b for b in data)
            out.append(f'"{reg_text(name)}"={value}')
    with open(reg_path, 'w', encoding='utf-16', newline='\r\n') as reg:
        reg.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main(*sys.argv[1:])
