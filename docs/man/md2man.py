#!/usr/bin/env python3
"""Turns the manual pages' plain source (a small part of Markdown) into roff for man(1).

  % NAME SECTION             title line, first
  # HEADING / ## HEADING     section / subsection
  text                       paragraphs, separated by blank lines
  TERM  followed by ': TEXT' an entry of a list of options (.TP); more ': ' lines go on
  four-space indented lines  shown as they are (examples)
  **bold**, *italic*         inline; '-' in bold text is a minus sign (options)
"""
import re
import sys


def escape(text):
    text = text.replace('\\', '\\e')
    return text


def inline(text):
    text = escape(text)
    text = re.sub(r'\*\*(.+?)\*\*', lambda m: '\\fB' + m.group(1).replace('-', '\\-') + '\\fR', text)
    text = re.sub(r'(?:(?<![\w*])|(?<=\\fR))\*(?!\s)(.+?)(?<!\s)\*(?![\w*])', r'\\fI\1\\fR', text)
    return text.replace(' - ', ' \\- ')


def line_out(text):
    # A line may not begin with a control character.
    return '\\&' + text if text.startswith(('.', "'")) else text


def convert(lines, source):
    out = []
    i = 0
    title = lines[0].split()
    if title[0] != '%':
        raise SystemExit('md2man: the first line must be "% NAME SECTION"')
    out.append('.TH "%s" "%s" "" "%s"' % (title[1], title[2], source))
    i = 1
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
            continue
        if line.startswith('## '):
            out.append('.SS "%s"' % line[3:].strip())
            i += 1
        elif line.startswith('# '):
            out.append('.SH "%s"' % line[2:].strip().upper())
            i += 1
        elif line.startswith('    '):
            out.append('.PP')
            out.append('.RS 4')
            out.append('.nf')
            while i < len(lines) and (lines[i].startswith('    ') or not lines[i].strip()):
                if not lines[i].strip() and not (i + 1 < len(lines) and lines[i + 1].startswith('    ')):
                    break
                out.append(line_out(escape(lines[i][4:]).replace('-', '\\-')))
                i += 1
            out.append('.fi')
            out.append('.RE')
        elif i + 1 < len(lines) and lines[i + 1].startswith(': '):
            out.append('.TP')
            out.append(line_out(inline(line.strip())))
            i += 1
            while i < len(lines) and lines[i].startswith(': '):
                out.append(line_out(inline(lines[i][2:].strip())))
                i += 1
        else:
            out.append('.PP')
            while i < len(lines) and lines[i].strip() and not lines[i].startswith(('#', '    ')):
                out.append(line_out(inline(lines[i].strip())))
                i += 1
    return '\n'.join(out) + '\n'


def main():
    if len(sys.argv) != 4:
        raise SystemExit('usage: md2man.py SOURCE.md OUTPUT.N "Kalvo Explorer VERSION"')
    with open(sys.argv[1], encoding='utf-8') as f:
        lines = f.read().split('\n')
    text = convert(lines, sys.argv[3])
    with open(sys.argv[2], 'w', encoding='utf-8') as f:
        f.write(text)


if __name__ == '__main__':
    main()
