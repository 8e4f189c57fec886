#!/usr/bin/env bash
# Checks docs/map.md against the tree: every top folder and every room of
# trennick/ has exactly one row, every row names a folder that exists, every
# test program a row names is built, and every path named in docs/*.md exists.
#   usage: scripts/check_map.sh <source folder> [<build>/bin]
# Folders are those that hold files of the change (tracked, or new and not
# ignored), so a build tree or an editor's scratch folder needs no row.
set -uo pipefail
src=${1:?usage: check_map.sh <source folder> [<bin folder>]}
bin=${2:-}
map=$src/docs/map.md
faults=0

fault() {
    echo "FAIL $*"
    faults=$((faults + 1))
}

if [ ! -f "$map" ]; then
    echo "FAIL docs/map.md is missing"
    exit 1
fi

# The files of the tree, relative to its root.
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git -C "$src" ls-files --cached --others --exclude-standard)
else
    files=$(cd "$src" && find . -path ./build\* -prune -o -type f -print | sed 's|^\./||')
fi

# The folders that need a row: top folders and trennick's rooms, as they are now
# (hidden folders are tools' settings, not part of the system).
folders=$(
    echo "$files" | grep / | grep -v '^\.' | cut -d/ -f1 | sort -u
    echo "$files" | grep '^trennick/[^/]*/' | cut -d/ -f1-2 | sort -u
)
folders=$(for f in $folders; do [ -d "$src/$f" ] && echo "$f"; done)

# The rows: table lines whose first cell is one folder in backticks.
rows=$(grep -oE '^\| *`[^`]+/` *\|' "$map" | sed -E 's/^\| *`([^`]+)\/` *\|$/\1/')

for f in $folders; do
    count=$(echo "$rows" | grep -cxF "$f")
    if [ "$count" -eq 0 ]; then
        fault "docs/map.md has no row for $f/: add one (what it is, its kind, what it may use, its tests)"
    elif [ "$count" -gt 1 ]; then
        fault "docs/map.md has $count rows for $f/"
    fi
done
for r in $rows; do
    if ! echo "$folders" | grep -qxF "$r"; then
        fault "docs/map.md has a row for $r/, which is not in the tree"
    fi
done

# The test programs named in the rows' last cell are built.
if [ -n "$bin" ]; then
    tests=$(grep -E '^\| *`[^`]+/` *\|' "$map" | awk -F'|' '{print $(NF-1)}' | grep -oE '`[a-z0-9_]+_tests`' | tr -d '`' | sort -u)
    for t in $tests; do
        [ -x "$bin/$t" ] || fault "docs/map.md names the test program $t, which the build does not make"
    done
fi

# Paths named in the notes exist: a backticked word with a slash, not a
# placeholder (<build>), a variable, a pattern or an absolute path.
for doc in "$src"/docs/*.md; do
    name=docs/$(basename "$doc")
    set -f  # a name from a note is a word, never a pattern
    for p in $(grep -oE '`[^` ]+/[^` ]*`' "$doc" | tr -d '`' | sort -u); do
        case $p in
            /* | .* | *'<'* | *'$'* | *'*'* | *'~'* | *'{'* | *'%'*) continue ;;
        esac
        [ -e "$src/$p" ] || fault "$name names $p, which does not exist"
    done
    set +f
done

if [ "$faults" -ne 0 ]; then
    echo "$faults fault(s)"
    exit 1
fi
echo "ok   docs/map.md has one row for each of $(echo "$folders" | wc -l) folders; the paths of docs/*.md exist"
