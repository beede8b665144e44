#!/usr/bin/env bash
# The long run for archives past the 32-bit and 16-bit limits, natively:
#   1. a 5 GiB file of zeros (ZIP64 sizes),
#   2. 70,000 small files (ZIP64 entry count: ZIP64 end record and locator),
#   3. an archive past 4 GiB of random data at level 0 (ZIP64 offsets).
# Each archive of ours is unlocked by us and tested and extracted by 7zz and
# bsdtar; each case's 7zz and bsdtar ZIP64 AES archives are unlocked by us.
# Needs about 14 GiB free under WORK at its peak; every big file is deleted as
# soon as its case is done.
# Usage: tests/long/zip64_round_trips.sh [WORK]   (default build/native/zip64-long)
set -euo pipefail
cd "$(dirname "$0")/../.."
cli=${KORVANE_CLI:-$PWD/build/native/cli/korvane-cli}
work=${1:-$PWD/build/native/zip64-long}
export KORVANE_PASSWORD='zip64 long run password'
pw=$KORVANE_PASSWORD
[ -x "$cli" ] || { echo "no $cli: build the native preset first" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"
free=$(df -Pk . | awk 'NR==2 {print $4}')
[ "$free" -gt $((14 * 1024 * 1024)) ] || { echo "needs 14 GiB free in $work" >&2; exit 1; }

start=$SECONDS
step() { printf '[%4ds] %s\n' $((SECONDS - start)) "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# Field checks on the archive's tail: the ZIP64 end record and locator, and
# the end record's markers, when expected is "zip64"; none of them otherwise.
check_tail() {
  python3 - "$1" "$2" <<'EOF'
import os, struct, sys
path, expected = sys.argv[1], sys.argv[2]
size = os.path.getsize(path)
with open(path, 'rb') as f:
    f.seek(size - 98)
    tail = f.read(98)
end = tail[76:]
assert end[:4] == b'PK\x05\x06', 'no end record at the end'
entries, dsize, doff = struct.unpack('<HII', end[10:20])
locator = tail[56:76]
if expected == 'zip64':
    assert locator[:4] == b'PK\x06\x07', 'no ZIP64 locator'
    (end64,) = struct.unpack('<Q', locator[8:16])
    assert end64 == size - 98, 'locator does not lead to the ZIP64 end record'
    assert tail[:4] == b'PK\x06\x06', 'no ZIP64 end record'
    n, _, dsize64, doff64 = struct.unpack('<QQQQ', tail[24:56])
    assert doff64 + dsize64 == end64, 'directory does not end at the ZIP64 end record'
    print(f'  ZIP64 end record: {n} entries, directory {dsize64} bytes at {doff64}; '
          f'end record {entries:#x} {dsize:#x} {doff:#x}')
else:
    assert locator[:4] != b'PK\x06\x07', 'unexpected ZIP64 locator'
    print(f'  end record only: {entries} entries')
EOF
}

# Unlocks ARCHIVE with ours into a fresh folder and compares it with the
# folder or file REFERENCE.
our_unlock() {
  rm -rf ours
  "$cli" unlock -q -o ours "$1" || fail "our unlock of $1"
  # One top-level folder is dropped on the way back, as are bare files' folders.
  if [ -d "$2" ]; then diff -r "$2" ours >/dev/null || fail "our unlock of $1 differs"
  else cmp "$2" ours/"$(basename "$2")" || fail "our unlock of $1 differs"; fi
  rm -rf ours
}

# 7zz tests, bsdtar extracts to stdout and the bytes are compared.
peers_read_file() {
  7zz t -p"$pw" "$1" >/dev/null || fail "7zz t $1"
  bsdtar -xOf "$1" --passphrase "$pw" "$(basename "$2")" | cmp - "$2" || fail "bsdtar -x $1"
}

# 7zz tests, bsdtar extracts into theirs/ and theirs/SUBPATH is compared
# with the folder REFERENCE.
peers_read_folder() {
  7zz t -p"$pw" "$1" >/dev/null || fail "7zz t $1"
  rm -rf theirs && mkdir theirs
  bsdtar -xf "$1" -C theirs --passphrase "$pw" || fail "bsdtar -x $1"
  diff -r "$2" "theirs/$3" >/dev/null || fail "bsdtar's extraction of $1 differs"
  rm -rf theirs
}

# 7zz's and bsdtar's ZIP64 AES archives of INPUT, unlocked by ours.
peers_write() {
  local input=$1 level=$2
  7zz a -tzip -mx"$level" -mem=AES256 -p"$pw" p7.zip "$input" >/dev/null || fail "7zz a"
  our_unlock p7.zip "$input"
  rm -f p7.zip
  bsdtar -cf pb.zip --format zip --passphrase "$pw" \
    --options "zip:zip64,zip:encryption=aes256,zip:compression-level=$level" "$input" ||
    fail "bsdtar -c"
  our_unlock pb.zip "$input"
  rm -f pb.zip
}

step "1. a 5 GiB file of zeros"
truncate -s 5G zeros.bin
"$cli" lock -q -l 1 -o zeros.cry zeros.bin || fail "lock zeros"
check_tail zeros.cry plain
our_unlock zeros.cry zeros.bin
peers_read_file zeros.cry zeros.bin
rm -f zeros.cry
peers_write zeros.bin 1
rm -f zeros.bin

step "2. 70,000 small files"
mkdir many
(cd many && seq 1 70000 | xargs -n 5000 sh -c 'for i; do echo "$i" > "f$i"; done' _)
"$cli" lock -q -l 1 -o many.cry many || fail "lock many"
check_tail many.cry zip64
our_unlock many.cry many
peers_read_folder many.cry many many
rm -f many.cry
peers_write many 1
rm -rf many

step "3. past 4 GiB of random data at level 0"
mkdir big
head -c $((4 * 1024 * 1024 * 1024 + 64 * 1024 * 1024)) /dev/urandom > big/random.bin
echo "after the first 4 GiB" > big/tail.txt
step "   input written"
# Two inputs in this order: the second entry's header lies past 4 GiB.
"$cli" lock -q -l 0 -o big.cry big/random.bin big/tail.txt || fail "lock random"
step "   locked: $(stat -c %s big.cry) bytes"
check_tail big.cry zip64
our_unlock big.cry big
step "   unlocked by ours"
peers_read_folder big.cry big .
step "   read by 7zz and bsdtar"
rm -rf big big.cry

step "all passed"
