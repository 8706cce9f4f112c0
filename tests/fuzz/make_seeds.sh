#!/bin/bash
# Writes small valid seed files for the background fuzz targets into
# $1/{tga,jpeg,bmp,video}. Needs python3, ImageMagick's convert and ffmpeg.
set -euo pipefail
out=${1:?usage: make_seeds.sh DIR}
mkdir -p "$out"/{tga,jpeg,bmp,video}

python3 - "$out/tga" <<'PY'
import struct, sys
d = sys.argv[1]
def header(kind, depth, w, h, desc, maplen=0, mapbits=0):
    return struct.pack('<BBBHHBHHHHBB', 0, 1 if maplen else 0, kind, 0, maplen, mapbits, 0, 0, w, h, depth, desc)
px = bytes(range(48))
open(f'{d}/t2_24.tga', 'wb').write(header(2, 24, 4, 4, 0x20) + px)
open(f'{d}/t2_32.tga', 'wb').write(header(2, 32, 3, 4, 0) + px)
open(f'{d}/t2_16.tga', 'wb').write(header(2, 16, 4, 3, 0) + px[:24])
open(f'{d}/t1_8.tga', 'wb').write(header(1, 8, 4, 2, 0, 3, 24) + px[:9] + bytes([0, 1, 2, 3, 2, 1, 0, 9]))
open(f'{d}/t10_24.tga', 'wb').write(header(10, 24, 4, 2, 0x20) + b'\x83' + px[:3] + b'\x03' + px[:12])
open(f'{d}/t9_8.tga', 'wb').write(header(9, 8, 4, 2, 0, 2, 24) + px[:6] + b'\x85\x01\x01\x00\x01')
PY

for f in 1 4 8 24 32; do
  convert -size 5x3 xc:red -fill blue -draw 'point 1,1' -type TrueColor "BMP3:$out/bmp/p$f.bmp"
done
convert -size 5x3 gradient:red-blue -colors 2 -depth 1 "BMP3:$out/bmp/p1.bmp"
convert -size 5x3 gradient:red-blue -colors 16 "BMP3:$out/bmp/p4.bmp"
convert -size 5x3 gradient:red-blue -colors 200 -type Palette "BMP3:$out/bmp/p8.bmp"
convert -size 5x3 gradient:red-blue -compress RLE -colors 200 -type Palette "BMP3:$out/bmp/rle8.bmp"
convert -size 5x3 gradient:red-blue -define bmp:format=bmp4 -alpha on "$out/bmp/p32.bmp"

convert -size 16x8 gradient:red-blue -quality 80 "$out/jpeg/colour.jpg"
convert -size 16x8 gradient:white-black -colorspace Gray -quality 80 "$out/jpeg/grey.jpg"
convert -size 16x8 gradient:red-blue -colorspace CMYK -quality 80 "$out/jpeg/cmyk.jpg"
convert -size 24x16 gradient:red-blue -interlace JPEG -quality 60 "$out/jpeg/progressive.jpg"

src="nullsrc=s=16x8:r=10,format=gbrp,geq=r='80*N':g='10*X':b='20*Y'"
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i "$src" -frames:v 3 -c:v rawvideo -pix_fmt bgr24 "$out/video/raw.avi"
ff -f lavfi -i "$src" -frames:v 3 -c:v mjpeg "$out/video/mjpeg.avi"
ff -f lavfi -i "$src" -frames:v 6 -c:v ffv1 -g 2 "$out/video/ffv1.avi"
ff -f lavfi -i "$src" -frames:v 6 -c:v mpeg4 -g 3 -bf 1 "$out/video/mpeg4.avi"
# Both sources finite: with two inputs an endless one never lets ffmpeg end.
ff -f lavfi -i sine=d=0.1 -f lavfi -i "nullsrc=s=16x8:r=10:d=0.15,format=gbrp,geq=r='80*N':g='10*X':b='20*Y'" -map 0:a -map 1:v -c:a pcm_s16le -c:v rawvideo -pix_fmt bgr24 "$out/video/audio_first.avi"
# Running (from the build folder, seeds in fuzz_seeds, each target built with
# the command at the top of its file):
#   ASAN_OPTIONS=quarantine_size_mb=32 ./fuzz_tga -runs=1000000 -rss_limit_mb=256 -malloc_limit_mb=256 CORPUS fuzz_seeds/tga
#   (fuzz_jpeg also with -close_fd_mask=2; fuzz_video with -runs=100000)
