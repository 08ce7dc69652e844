#!/usr/bin/env bash
# Writes the fuzz targets' made seeds into OUT/<target>/: small WAV images, MP3 streams
# and PCM made here by python3 and the `lame` command, and the build's own machine.reg
# when its path is given. The corpus tests and `make fuzz` run it; fuzz/corpus/ holds
# only the hand-written seeds and the inputs that found faults.
#
# usage: fuzz/make_seeds.sh OUT [machine.reg]
set -euo pipefail
out=${1:?usage: make_seeds.sh OUT [machine.reg]}
machine_reg=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
for target in wav_header mp3_scanner mp3_file mp3_encoder driver_settings registry; do
  mkdir -p "$out/$target"
done
if [ -n "$machine_reg" ] && [ -f "$machine_reg" ]; then
  cp "$machine_reg" "$out/driver_settings/build-machine.reg"
  cp "$machine_reg" "$out/registry/build-machine.reg"
fi

python3 - "$work" "$out" <<'PY'
import math, os, random, struct, sys
work, out = sys.argv[1], sys.argv[2]

def wav(tag, channels, rate, bits, payload, fmt_extra=b'', between=b''):
    fmt = struct.pack('<HHIIHH', tag, channels, rate, rate * channels * bits // 8,
                      channels * bits // 8, bits) + fmt_extra
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + between
    body += b'data' + struct.pack('<I', len(payload)) + payload
    return b'RIFF' + struct.pack('<I', len(body)) + body

def samples(frames, channels, f):
    return b''.join(struct.pack('<h', max(-32768, min(32767, int(f(i, c)))))
                    for i in range(frames) for c in range(channels))

def tone(frames, channels, rate):
    return samples(frames, channels, lambda i, c: 8000 * math.sin(2 * math.pi * (440 + 220 * c) * i / rate))

def put(folder, name, data):
    with open(os.path.join(out, folder, name), 'wb') as f:
        f.write(data)

put('wav_header', 'stereo.wav', wav(1, 2, 44100, 16, tone(300, 2, 44100)))
put('wav_header', 'mono-8k.wav', wav(1, 1, 8000, 16, tone(500, 1, 8000)))
put('wav_header', 'list-chunk.wav', wav(1, 2, 48000, 16, tone(50, 2, 48000), between=b'LIST' + struct.pack('<I', 10) + b'INFOabcdef'))
put('wav_header', 'recorder.wav', wav(1, 2, 48000, 16, tone(50, 2, 48000), fmt_extra=b'\0\0', between=b'fact' + struct.pack('<I', 4) + b'\x64\0\0\0'))
put('wav_header', 'eight-bit.wav', wav(1, 1, 8000, 8, bytes(range(100))))
put('wav_header', 'no-channels.wav', wav(1, 0, 8000, 16, bytes(100)))
put('wav_header', 'empty-data.wav', wav(1, 2, 44100, 16, b''))
put('wav_header', 'declared-too-long.wav', wav(1, 2, 44100, 16, tone(40, 2, 44100))[:-60])
for name, frames, channels, rate in [('tone-44k', 4000, 2, 44100), ('tone-22k', 2000, 1, 22050),
                                     ('tone-11k', 1500, 1, 11025), ('tone-48k', 3000, 1, 48000),
                                     ('tone-32k', 3000, 2, 32000), ('long-22k', 24000, 1, 22050)]:
    with open(os.path.join(work, name + '.wav'), 'wb') as f:
        f.write(wav(1, channels, rate, 16, tone(frames, channels, rate)))

# The encoder's input: the rate (0 44100, 1 48000, 2 32000), the block length - 1 in
# sample frames (16-bit), then interleaved stereo PCM.
def encoder_input(rate, block, pcm):
    return bytes([rate]) + struct.pack('<H', block - 1) + pcm
noise = random.Random(18)
put('mp3_encoder', 'tone-44k.pcm', encoder_input(0, 4608, tone(2400, 2, 44100)))
put('mp3_encoder', 'square-48k.pcm', encoder_input(1, 1000, samples(1500, 2, lambda i, c: 32767 if i // 20 % 2 else -32768)))
put('mp3_encoder', 'silence-32k.pcm', encoder_input(2, 4608, bytes(4 * 1200)))
put('mp3_encoder', 'noise-44k.pcm', encoder_input(0, 700, samples(1400, 2, lambda i, c: noise.randint(-32768, 32767))))
PY

lame --quiet -b 128 -t "$work/tone-44k.wav" "$work/cbr.mp3"
lame --quiet -V 6 "$work/tone-44k.wav" "$work/vbr.mp3"
lame --quiet -b 32 -t "$work/tone-22k.wav" "$work/mpeg2.mp3"
lame --quiet -b 16 -t "$work/tone-11k.wav" "$work/mpeg25.mp3"
lame --quiet -b 64 -m m -t "$work/tone-48k.wav" "$work/mono-48k.mp3"
lame --quiet -b 96 -p -t "$work/tone-32k.wav" "$work/crc-32k.mp3"
lame --quiet -b 128 --add-id3v2 --tt Bellwave "$work/tone-44k.wav" "$work/id3v2-tagged.mp3"
lame --quiet -b 8 -t "$work/long-22k.wav" "$work/long-mpeg2.mp3"

python3 - "$work" "$out" <<'PY'
import os, struct, sys
work, out = sys.argv[1], sys.argv[2]
read = lambda name: open(os.path.join(work, name), 'rb').read()
cbr, vbr, mpeg2, mpeg25 = read('cbr.mp3'), read('vbr.mp3'), read('mpeg2.mp3'), read('mpeg25.mp3')

def put(folder, name, data):
    with open(os.path.join(out, folder, name), 'wb') as f:
        f.write(data)

for folder in ('mp3_scanner', 'wav_header', 'mp3_file'):
    put(folder, 'cbr.mp3', cbr)
    put(folder, 'vbr.mp3', vbr)
    put(folder, 'mpeg2.mp3', mpeg2)
put('mp3_scanner', 'mpeg25.mp3', mpeg25)
put('mp3_scanner', 'id3v2.mp3', b'ID3\3\0\0\0\0\0\x20' + b' ' * 32 + cbr)
put('mp3_scanner', 'junk-first.mp3', b'\0\x12\xff\xfb\x90\x64\0\0' + b'U' * 40 + cbr)
put('mp3_scanner', 'stray-byte.mp3', cbr[:835] + b'\0' + cbr[835:])
put('mp3_scanner', 'missing-byte.mp3', cbr[:834] + cbr[835:])
put('mp3_scanner', 'tag-at-end.mp3', cbr + b'TAG' + b' ' * 125)
for name in ('mono-48k.mp3', 'crc-32k.mp3', 'id3v2-tagged.mp3', 'long-mpeg2.mp3'):
    put('mp3_file', name, read(name))
fmt = struct.pack('<HHIIHHH', 85, 2, 44100, 16000, 1, 0, 0)
body = b'WAVEfmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(cbr)) + cbr
put('wav_header', 'mp3-in-wav.wav', b'RIFF' + struct.pack('<I', len(body)) + body)
PY
