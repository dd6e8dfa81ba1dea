#!/bin/sh
# Usage: make_speech_wav.sh OUT.wav "first sentence" "second sentence" ...
# Speaks each sentence with espeak-ng and joins them, with pauses, into 16 kHz mono PCM16.
set -eu
out=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
i=0
parts=""
for sentence in "$@"; do
    espeak-ng -v en-us -s 140 -w "$tmp/raw$i.wav" "$sentence"
    sox "$tmp/raw$i.wav" -r 16000 -c 1 -b 16 -e signed-integer "$tmp/part$i.wav" pad 0.3 0.9
    parts="$parts $tmp/part$i.wav"
    i=$((i + 1))
done
# shellcheck disable=SC2086
sox $parts "$out"
