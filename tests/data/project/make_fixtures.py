#!/usr/bin/env python3
"""Builds the project-file fixtures of this folder. The listed paths are relative: the tests run
with this folder as the current directory. Run again after changing a case; the outputs are committed."""
import struct
import zlib

def record(packer, size, path):
    size_units = size.encode('utf-16-le')[:20].ljust(20, b'\0')
    path_units = path.encode('utf-16-le')[:640].ljust(640, b'\0')
    return struct.pack('<b', packer) + size_units + path_units

def records(rows):
    return b''.join(record(*r) for r in rows)

def project(version, rows, fmt=0, magic_end=b'\r\n', count=None, length=None, stream=None, magic=None):
    area = records(rows)
    n = len(rows) if count is None else count
    head = (magic or ('HXLM ' + version).encode()) + magic_end
    if version == '1.5':
        head += struct.pack('<h', n) + struct.pack('<B', fmt)
    elif version == '1.4':
        head += struct.pack('<b', n) + struct.pack('<B', fmt)
    else:
        head += struct.pack('<b', n)
    head += struct.pack('<I', len(area) if length is None else length)
    return head + (zlib.compress(area, 9) if stream is None else stream)

def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)

write('payload/one.bin', bytes(range(11)))
write('payload/two.wav', b'RIFF' + bytes(60))
write('payload/three.txt', b'three little words\n')
write('payload/empty.bin', b'')

three = [(0, '11', 'payload/one.bin'), (1, '---', 'payload/two.wav'), (2, '1234567890', 'payload/three.txt')]
two = [(2, '64', 'payload/two.wav'), (0, '11', 'payload/one.bin')]

write('v15_binpack.hxlm', project('1.5', three, fmt=2))
write('v14_hexdata.hxlm', project('1.4', two, fmt=1))
write('v10.hxlm', project('1.0', two))
write('lf_only.hxlm', project('1.5', two, fmt=1, magic_end=b'\n'))
write('cr_only.hxlm', project('1.5', two, fmt=1, magic_end=b'\r'))
write('zero_end.hxlm', project('1.5', two, fmt=1, magic_end=b'\0'))
write('lowercase_magic.hxlm', project('1.5', two, magic=b'hxlm 1.5'))
write('future_version.hxlm', project('1.5', two, magic=b'HXLM 1.6'))
write('empty_list.hxlm', project('1.5', [], fmt=2))
write('missing_files.hxlm', project('1.5', [(0, '5', 'payload/gone.bin'), (0, '0', 'payload/empty.bin'),
                                            (0, '', 'payload'), (1, '11', 'payload/one.bin')], fmt=1))
write('unknown_packer.hxlm', project('1.5', [(7, '11', 'payload/one.bin'), (-1, '11', 'payload/one.bin')]))
good = zlib.compress(records(three), 9)
flipped = bytearray(good)
flipped[len(flipped) // 2] ^= 0xFF
write('damaged_stream.hxlm', project('1.5', three, fmt=2, stream=bytes(flipped)))
write('truncated_stream.hxlm', project('1.5', three, fmt=2, stream=good[:len(good) // 2]))
write('wrong_length_long.hxlm', project('1.5', three, fmt=2, length=4 * 661))
write('wrong_length_short.hxlm', project('1.5', three, fmt=2, length=2 * 661))
write('stream_too_short.hxlm', project('1.5', three, fmt=2, stream=zlib.compress(records(three[:2]), 9)))
write('negative_count.hxlm', project('1.4', two, fmt=1, count=-2, length=0))
write('negative_count15.hxlm', project('1.5', two, fmt=1, count=-1))
write('bad_format.hxlm', project('1.5', two, fmt=9))
write('header_cut.hxlm', b'HXLM 1.5\r\n\x02\x00\x01')
write('magic_only.hxlm', b'HXLM 1.5')
# The limits at their value and one past: the first format there is not, and a header with nothing after it.
write('format_one_past.hxlm', project('1.5', two, fmt=3))
write('header_only.hxlm', project('1.5', [], fmt=2, stream=b''))
# Count byte 0xFE with the length and stream of 254 records: only the sign of the count refuses it.
write('negative_count_whole.hxlm', project('1.4', two * 127, fmt=1, count=-2, length=254 * 661,
                                           stream=zlib.compress(records(two * 127), 9)))
