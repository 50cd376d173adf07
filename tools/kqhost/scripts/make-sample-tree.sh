#!/usr/bin/env bash
# Makes the sample tree that the demo and the end-to-end tests back up and restore.
#
#   make-sample-tree.sh DIR [BLOCK_SIZE [BIG_SIZE [SMALL_FILES]]]
#
# BLOCK_SIZE (bytes, default 8 MiB) is kqhost's --block-size: three files sit at the block boundary -1, 0, +1,
# where a file stops going up in one call and starts going through a write session. BIG_SIZE (default 200 MiB)
# is the size of big.bin. SMALL_FILES (default 0) adds many/file-NNN.bin of assorted sizes, to give several
# threads something to share. DIR must not exist yet. Content is random, so every run differs.
set -euo pipefail

dir="${1:?usage: make-sample-tree.sh DIR [BLOCK_SIZE [BIG_SIZE [SMALL_FILES]]]}"
block="${2:-8388608}"
big="${3:-209715200}"
small="${4:-0}"

if [[ -e "$dir" ]]; then
    echo "make-sample-tree: $dir already exists" >&2
    exit 1
fi

random_file() {  # path size
    mkdir -p "$(dirname "$1")"
    head -c "$2" /dev/urandom >"$1"
}

mkdir -p "$dir"
: >"$dir/empty.txt"
printf 'x' >"$dir/one-byte.txt"
random_file "$dir/boundary/block-minus-1.bin" $((block - 1))
random_file "$dir/boundary/block.bin" "$block"
random_file "$dir/boundary/block-plus-1.bin" $((block + 1))
random_file "$dir/big.bin" "$big"

# Names outside ASCII, in several scripts and planes, and characters that need escaping in URLs.
printf 'umlauts\n' >"$dir/$(printf 'Gr\xc3\xbc\xc3\x9fe-\xc3\xa4\xc3\xb6\xc3\xbc.txt')"
mkdir -p "$dir/$(printf '\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e')"
printf 'nihongo\n' >"$dir/$(printf '\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e')/$(printf '\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.txt')"
printf 'emoji\n' >"$dir/$(printf 'smile-\xf0\x9f\x98\x80.txt')"
printf 'greek\n' >"$dir/$(printf '\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac.md')"
printf 'spaces\n' >"$dir/with space & (symbols) #1 %20 +.txt"
printf 'hidden\n' >"$dir/.hidden"

# Nested folders, one of them deep.
mkdir -p "$dir/nested/a/b/c/d/e/f"
random_file "$dir/nested/a/b/c/d/e/f/deep.bin" 4097
printf 'sibling\n' >"$dir/nested/a/sibling.txt"
random_file "$dir/nested/a/b/mid.bin" 65536

# Modification times far from now, with nanoseconds, must come back as they were.
touch -d '2001-02-03 04:05:06.123456789 UTC' "$dir/one-byte.txt"
touch -d '1999-12-31 23:59:59.999999999 UTC' "$dir/nested/a/sibling.txt"

for ((i = 0; i < small; i++)); do
    random_file "$(printf '%s/many/file-%03d.bin' "$dir" "$i")" $(((i * 7919) % 300000))
done
