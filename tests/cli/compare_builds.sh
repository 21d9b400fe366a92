#!/usr/bin/env bash
# The Linux and the Windows build of tarnquill-cli on the same inputs: compressed
# files, archives and cipher text must be byte-identical, and what one build
# wrote the other must read back.
#
#   bash tests/cli/compare_builds.sh LINUX_CLI WINDOWS_CLI_EXE WINE
#
# WINE is the program that runs the Windows build (its environment, WINEPREFIX
# and the rest, is taken as it is). Exit status 0 when everything agrees.
set -euo pipefail
linux=$1
windows=$2
wine=$3

work=$(mktemp -d /tmp/tq-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "  same: $what"
    else
        echo "  DIFFERENT: $what"
        failures=$((failures + 1))
    fi
}
lin() { "$linux" "$@"; }
win() { "$wine" "$windows" "$@"; }

# Inputs: a text file that compresses, a small and a large stored file, a folder
# tree with non-ASCII names, and text holding every byte value (0x1A and CR LF
# among them).
mkdir -p in/docs/sub "in/docs/d$(printf '\xc3\xa9')j$(printf '\xc3\xa0')"
for i in $(seq 1 120); do echo "line $i: the quick brown fox jumps over the lazy dog"; done > in/docs/text.txt
printf 'small\r\nfile\x1a' > in/docs/sub/small.bin
head -c 200000 /dev/urandom > in/docs/sub/large.bin
cp in/docs/text.txt "in/docs/d$(printf '\xc3\xa9')j$(printf '\xc3\xa0')/caf$(printf '\xc3\xa9').txt"
printf 'before\x1aafter\r\n' > in/raw.txt
head -c 3000 /dev/urandom >> in/raw.txt
for c in $(seq 0 255); do printf "\\$(printf '%03o' "$c")"; done >> in/raw.txt

echo "tarnquill-cli: Linux build against the Windows build under wine"

lin compress in/docs/text.txt text.lin.cmp
win compress in/docs/text.txt text.win.cmp
check "compress" cmp -s text.lin.cmp text.win.cmp
lin decompress text.win.cmp text.lin.back
win decompress text.lin.cmp text.win.back
check "decompress of the other's stream" cmp -s text.lin.back text.win.back

# Relative paths, so that both tools name the entries alike.
lin x add --keys 12,200 lin.X in/docs in/raw.txt
win x add --keys 12,200 win.X in/docs in/raw.txt
check "x add (archive bytes)" cmp -s lin.X win.X
lin x list win.X > list.lin
win x list lin.X > list.win
check "x list (binary standard output)" cmp -s list.lin list.win
lin x extract --keys 12,200 win.X out.lin
win x extract --keys 12,200 lin.X out.win
check "x extract of the other's archive" diff -r out.lin out.win
cp lin.X lin2.X
cp win.X win2.X
lin x delete win2.X raw.txt
win x delete lin2.X raw.txt
check "x delete" cmp -s lin2.X win2.X

# The cipher mixes random filler codes into its output, so two encryptions differ;
# they must have the same length (all of standard input read, 0x1A and CR LF
# included) and each must decrypt with the other build.
lin encrypt --keys 40,9,77,2 < in/raw.txt > raw.lin.enc
win encrypt --keys 40,9,77,2 < in/raw.txt > raw.win.enc
check "encrypt (every byte value on standard input)" test "$(wc -c < raw.lin.enc)" -eq "$(wc -c < raw.win.enc)"
lin decrypt --keys 40,9,77,2 < raw.win.enc > raw.lin.dec
win decrypt --keys 40,9,77,2 < raw.lin.enc > raw.win.dec
check "decrypt of the other's cipher text (Linux)" cmp -s raw.lin.dec in/raw.txt
check "decrypt of the other's cipher text (Windows)" cmp -s raw.win.dec in/raw.txt

# Cipher text is saved as it is, so both builds must write the same file of it;
# plain text is encrypted first (with random filler), and each build opens the
# other's file.
lin encrypt --keys 40,9,77,2 < in/docs/text.txt > text.enc
lin crp save --keys 40,9,77,2 text.enc cipher.lin.crp
win crp save --keys 40,9,77,2 text.enc cipher.win.crp
check "crp save of cipher text" cmp -s cipher.lin.crp cipher.win.crp
lin crp save --keys 40,9,77,2 in/docs/text.txt memo.lin.crp
win crp save --keys 40,9,77,2 in/docs/text.txt memo.win.crp
lin crp open --keys 40,9,77,2 memo.win.crp > memo.lin.txt
win crp open --keys 40,9,77,2 memo.lin.crp > memo.win.txt
# Each writes its own platform's line ending, once.
check "crp open: the Linux build writes LF" cmp -s memo.lin.txt in/docs/text.txt
check "crp open: the Windows build writes CR LF" cmp -s memo.win.txt <(sed 's/$/\r/' in/docs/text.txt)

if [ "$failures" -ne 0 ]; then
    echo "tarnquill-cli: $failures differences between the builds"
    exit 1
fi
echo "tarnquill-cli: both builds agree"
