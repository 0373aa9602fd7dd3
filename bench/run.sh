#!/usr/bin/env bash
# Benchmark: tagloom in folder mode against the floors (cp -r; cp -r then sync) and its peers
# (exiftool, exiv2, jhead), on camera-like pairs made here. Prints ms per pair, MB/s, the ratios to
# the floors and tagloom's peak resident memory; with --scaling also cost against pairs and size.
#
#   bash bench/run.sh [--pairs N] [--size MB] [--rounds R] [--scaling]
#   bash bench/run.sh --compare OLD NEW [--pairs N] [--rounds R]
#       two tagloom binaries interleaved on 2 MB and 8 MB workloads: each one's median, its rounds'
#       spread, and the new median against the old
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=100 size=8 rounds=5 scaling=0 old="" new=""
while [ $# -gt 0 ]; do
  case "$1" in
    --pairs) pairs="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --scaling) scaling=1; shift ;;
    --compare) old="$(realpath "$2")" new="$(realpath "$3")"; shift 3 ;;
    *) echo "usage: bash bench/run.sh [--pairs N] [--size MB] [--rounds R] [--scaling] | --compare OLD NEW"; exit 2 ;;
  esac
done

bash tools/install-deps.sh
for tool in convert:imagemagick exiv2:exiv2 jhead:jhead /usr/bin/time:time; do
  command -v "${tool%%:*}" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool##*:}" >/dev/null
done
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target tagloom tagloom_make_files tagloom_read_back_cost >/dev/null
tagloom="$PWD/build-bench/tagloom"
make_files="$PWD/build-bench/tests/tagloom_make_files"
read_back_cost="$PWD/build-bench/tests/tagloom_read_back_cost"
out="$PWD/bench/out"
mkdir -p "$out"

# A noisy JPEG of about MB megabytes (about 1.64 bytes a pixel at quality 90).
base_image() {
  local mb="$1" file="$out/base-$1mb.jpg"
  if [ ! -f "$file" ]; then
    local width height
    width=$(awk -v mb="$mb" 'BEGIN { printf "%d", sqrt(mb * 1e6 / 1.64 * 4 / 3) }')
    height=$((width * 3 / 4))
    convert -size "${width}x${height}" xc: +noise Random -quality 90 "$file"
  fi
  echo "$file"
}

# workload DIR N MB: N pairs whose destinations hold MB megabytes of image data.
workload() {
  rm -rf "$1" && "$make_files" workload "$1" "$2" "$(base_image "$3")"
}

now() { date +%s.%N; }

# measure LABEL WORK COMMAND...: one timed run on a fresh copy of WORK's destinations.
measure() {
  local label="$1" work="$2"
  shift 2
  rm -rf "$work/run" && mkdir -p "$work/run/exv" && cp -r "$work/dst" "$work/run/dst" && sync
  [ "$label" != tagloom-jfif ] || { cp -r "$work/dst-jfif" "$work/run/dst-jfif" && sync; }
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  echo "$label $(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" >>"$work/times"
}

run_tagloom() { "$tagloom" -u "$1/src-jpg" "$1/run/dst"; }
run_tagloom_raw() { "$tagloom" -u "$1/src-raw" "$1/run/dst"; }
run_tagloom_jfif() { "$tagloom" --all-formats -u "$1/src-jpg" "$1/run/dst-jfif"; }
run_cp() { cp -r "$1/run/dst" "$1/run/copy"; }
run_cp_sync() { cp -r "$1/run/dst" "$1/run/copy" && sync; }
run_exiftool() { exiftool -q -q -TagsFromFile "$1/src-jpg/%f.%e" -all:all -overwrite_original "$1/run/dst"; }
run_exiv2() { exiv2 -ee -l "$1/run/exv" "$1"/src-jpg/*.jpg && exiv2 -ie -l "$1/run/exv" "$1"/run/dst/*.jpg; }
run_jhead() { (cd "$1/run/dst" && jhead -te "$1/src-jpg/&i" ./*.jpg); }

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# table WORK N: medians per tool, in ms a pair, MB/s and ratios to the floors.
table() {
  local work="$1" n="$2" bytes
  bytes=$(du -sb "$work/dst" | awk '{ print $1 }')
  local cp_median sync_median
  cp_median=$(awk '$1 == "cp" { print $2 }' "$work/times" | median)
  sync_median=$(awk '$1 == "cp+sync" { print $2 }' "$work/times" | median)
  printf '%-14s %10s %10s %10s %12s\n' tool "ms/pair" "MB/s" "x cp" "x cp+sync"
  for label in tagloom tagloom-raw tagloom-jfif cp cp+sync exiftool exiv2 jhead; do
    local m
    m=$(awk -v l="$label" '$1 == l { print $2 }' "$work/times" | median)
    [ -n "$m" ] || continue
    awk -v l="$label" -v m="$m" -v n="$n" -v b="$bytes" -v c="$cp_median" -v s="$sync_median" \
      'BEGIN { printf "%-14s %10.2f %10.1f %10.2f %12.2f\n", l, m * 1000 / n, b / 1e6 / m, m / c, m / s }'
  done
}

if [ -n "$old" ]; then
  run_old() { "$old" -u "$1/src-jpg" "$1/run/dst"; }
  run_new() { "$new" -u "$1/src-jpg" "$1/run/dst"; }
  for mb in 2 8; do
    work="$out/compare-$mb"
    workload "$work" "$pairs" "$mb"
    rm -f "$work/times"
    for round in $(seq 1 "$rounds"); do
      if [ $((round % 2)) -eq 0 ]; then order="old new"; else order="new old"; fi
      for which in $order; do measure "$which" "$work" "run_$which" "$work"; done
    done
    echo "== $pairs pairs of $mb MB, $rounds rounds interleaved (ms a pair: median, fastest-slowest)"
    for which in old new; do
      awk -v w="$which" '$1 == w { print $2 }' "$work/times" | sort -n |
        awk -v w="$which" -v n="$pairs" '{ v[NR] = $1 } END {
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%-4s %8.3f  %8.3f-%.3f\n", w, m * 1000 / n, v[1] * 1000 / n, v[NR] * 1000 / n }'
    done
    o=$(awk '$1 == "old" { print $2 }' "$work/times" | median)
    n=$(awk '$1 == "new" { print $2 }' "$work/times" | median)
    awk -v o="$o" -v n="$n" 'BEGIN { printf "new against old: %+.1f%%\n", (n / o - 1) * 100 }'
  done
  exit 0
fi

echo "== $pairs pairs, destinations of about $size MB, $rounds rounds, $(nproc) cores, $(uname -r)"
work="$out/main"
workload "$work" "$pairs" "$size"
rm -f "$work/times"
tools=(tagloom tagloom_raw tagloom_jfif cp cp_sync exiftool exiv2 jhead)
for round in $(seq 1 "$rounds"); do
  # Interleaved, starting at another tool each round.
  for i in "${!tools[@]}"; do
    tool="${tools[$(((i + round) % ${#tools[@]}))]}"
    label="${tool//_sync/+sync}"
    label="${label//_raw/-raw}"
    label="${label//_jfif/-jfif}"
    measure "$label" "$work" "run_$tool" "$work"
  done
done
table "$work" "$pairs"

rm -rf "$work/run" && cp -r "$work/dst" "$work/run-rss"
peak=$(/usr/bin/time -f %M "$tagloom" -u "$work/src-jpg" "$work/run-rss" 2>&1 >/dev/null | tail -n 1)
"$make_files" hostile "$out/hostile"
hostile=$(/usr/bin/time -f %M "$tagloom" -u "$work/src-jpg/IMG_0001.jpg" "$out/hostile/hostile.jpg" 2>&1 >/dev/null | tail -n 1)
rm -rf "$work/run-rss"
echo "tagloom peak resident memory: ${peak} KiB over $pairs pairs; ${hostile} KiB on a hostile file"

# One pair of 5,000 and 2,500 entries of one tag, matched by position: the merge stays linear.
"$make_files" repeats "$out/repeats"
rm -f "$out/repeats/times"
for round in 1 2 3; do
  cp "$out/repeats/dst.jpg" "$out/repeats/run.jpg"
  start=$(now)
  "$tagloom" -uo "$out/repeats/src.jpg" "$out/repeats/run.jpg" >/dev/null
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { print e - s }' >>"$out/repeats/times"
done
echo "one pair of 5,000 entries of one tag: $(median <"$out/repeats/times" | awk '{ printf "%.1f", $1 * 1000 }') ms"

# The read-back of each new Exif segment before it replaces its file, on pairs of 2 MB (compare with
# tagloom's ms a pair above, or with --compare against a build without it).
workload "$out/read-back" "$pairs" 2
"$read_back_cost" "$out/read-back"

# The comparison of an export's pixels with the camera's thumbnail (--all-formats, a camera's Orientation
# 6): a 2 MB export against the same pair with Orientation 1, which compares nothing; -x, nothing written.
turn="$out/turn" && rm -rf "$turn" && mkdir -p "$turn"
convert "$(base_image 2)" -rotate -90 "$turn/camera.jpg" && convert "$turn/camera.jpg" -resize 160x160 "$turn/thumb.jpg"
exiftool -q -overwrite_original -all= "$turn/camera.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Make=Bench "-ThumbnailImage<=$turn/thumb.jpg" "$turn/camera.jpg"
cp "$turn/camera.jpg" "$turn/turned.jpg" && cp "$turn/camera.jpg" "$turn/upright.jpg"
exiftool -q -overwrite_original -Orientation#=6 "$turn/turned.jpg" && exiftool -q -overwrite_original -Orientation#=1 "$turn/upright.jpg"
convert "$(base_image 2)" -strip "$turn/export.jpg"
for source in turned upright; do
  for round in $(seq 1 20); do
    start=$(now)
    "$tagloom" --all-formats -x "$turn/$source.jpg" "$turn/export.jpg" >/dev/null
    end=$(now)
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }' >>"$turn/$source.times"
  done
done
t=$(median <"$turn/turned.times") u=$(median <"$turn/upright.times")
awk -v t="$t" -v u="$u" 'BEGIN { printf "a 2 MB export whose Orientation its pixels decide: %.1f ms, %.1f ms more than one that needs no decision\n", t * 1000, (t - u) * 1000 }'

if [ "$scaling" -eq 1 ]; then
  echo "== scaling: tagloom -u, median of 3 runs"
  printf '%-22s %10s %10s\n' workload "ms/pair" "ms/MB"
  for item in 1:0.2 10:0.2 100:0.2 1000:0.2 10:1 10:8 10:32; do
    n="${item%%:*}" mb="${item##*:}" work="$out/scale"
    workload "$work" "$n" "$mb"
    rm -f "$work/times"
    for round in 1 2 3; do measure tagloom "$work" run_tagloom "$work"; done
    m=$(awk '{ print $2 }' "$work/times" | median)
    bytes=$(du -sb "$work/dst" | awk '{ print $1 }')
    awk -v n="$n" -v mb="$mb" -v m="$m" -v b="$bytes" \
      'BEGIN { printf "%-22s %10.2f %10.2f\n", n " x " mb " MB", m * 1000 / n, m * 1000 / (b / 1e6) }'
  done
fi
