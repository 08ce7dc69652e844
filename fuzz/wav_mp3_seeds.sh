#!/usr/bin/env bash
# Writes the seed corpora of the wav_header and mp3_scanner fuzz targets: small WAV
# images and MP3 streams made here by python3 and the `lame` command.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p corpus/wav_header corpus/mp3_scanner

python3 - "$work" <<'PY'
import math, os, struct, sys
work = sys.argv[1]

def wav(tag, channels, rate, bits, payload, fmt_extra=b'', between=b''):
    fmt = struct.pack('<HHIIHH', tag, channels, rate, rate * channels * bits // 8,
                      channels * bits // 8, bits) + fmt_extra
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + between
    body += b'data' + struct.pack('<I', len(payload)) + payload
    return b'RIFF' + struct.pack('<I', len(body)) + body

def tone(frames, channels, rate):
    out = bytearray()
    for i in range(frames):
        for c in range(channels):
            out += struct.pack('<h', int(8000 * math.sin(2 * math.pi * (440 + 220 * c) * i / rate)))
    return bytes(out)

def put(name, data):
    with open(os.path.join('corpus/wav_header', name), 'wb') as f:
        f.write(data)

put('stereo.wav', wav(1, 2, 44100, 16, tone(300, 2, 44100)))
put('mono-8k.wav', wav(1, 1, 8000, 16, tone(500, 1, 8000)))
put('list-chunk.wav', wav(1, 2, 48000, 16, tone(50, 2, 48000), between=b'LIST' + struct.pack('<I', 10) + b'INFOabcdef'))
put('recorder.wav', wav(1, 2, 48000, 16, tone(50, 2, 48000), fmt_extra=b'\0\0', between=b'fact' + struct.pack('<I', 4) + b'\x64\0\0\0'))
put('eight-bit.wav', wav(1, 1, 8000, 8, bytes(range(100))))
put('no-channels.wav', wav(1, 0, 8000, 16, bytes(100)))
put('empty-data.wav', wav(1, 2, 44100, 16, b''))
put('declared-too-long.wav', wav(1, 2, 44100, 16, tone(40, 2, 44100))[:-60])
for name, frames, channels, rate in [('tone-44k', 4000, 2, 44100), ('tone-22k', 2000, 1, 22050), ('tone-11k', 1500, 1, 11025)]:
    with open(os.path.join(work, name + '.wav'), 'wb') as f:
        f.write(wav(1, channels, rate, 16, tone(frames, channels, rate)))
PY

lame --quiet -b 128 -t "$work/tone-44k.wav" "$work/cbr.mp3"
lame --quiet -V 6 "$work/tone-44k.wav" "$work/vbr.mp3"
lame --quiet -b 32 -t "$work/tone-22k.wav" "$work/mpeg2.mp3"
lame --quiet -b 16 -t "$work/tone-11k.wav" "$work/mpeg25.mp3"

python3 - "$work" <<'PY'
import os, struct, sys
work = sys.argv[1]
read = lambda name: open(os.path.join(work, name), 'rb').read()
cbr, vbr, mpeg2, mpeg25 = read('cbr.mp3'), read('vbr.mp3'), read('mpeg2.mp3'), read('mpeg25.mp3')

def put(folder, name, data):
    with open(os.path.join('corpus', folder, name), 'wb') as f:
        f.write(data)

for folder in ('mp3_scanner', 'wav_header'):
    put(folder, 'cbr.mp3', cbr)
    put(folder, 'vbr.mp3', vbr)
    put(folder, 'mpeg2.mp3', mpeg2)
put('mp3_scanner', 'mpeg25.mp3', mpeg25)
put('mp3_scanner', 'id3v2.mp3', b'ID3\3\0\0\0\0\0\x20' + b' ' * 32 + cbr)
put('mp3_scanner', 'junk-first.mp3', b'\0\x12\xff\xfb\x90\x64\0\0' + b'U' * 40 + cbr)
put('mp3_scanner', 'stray-byte.mp3', cbr[:835] + b'\0' + cbr[835:])
put('mp3_scanner', 'missing-byte.mp3', cbr[:834] + cbr[835:])
put('mp3_scanner', 'tag-at-end.mp3', cbr + b'TAG' + b' ' * 125)
fmt = struct.pack('<HHIIHHH', 85, 2, 44100, 16000, 1, 0, 0)
body = b'WAVEfmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(cbr)) + cbr
put('wav_header', 'mp3-in-wav.wav', b'RIFF' + struct.pack('<I', len(body)) + body)
PY
ls -l corpus/wav_header corpus/mp3_scanner
