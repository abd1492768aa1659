#!/usr/bin/env bash
# Injects each fault of faults.list in turn, rebuilds, runs the tests of its labels and expects at
# least one failure; the source is restored byte for byte after every fault, also on Ctrl-C.
#
#   tests/faults/run.sh [BUILD_DIR] [ID...]
#
# BUILD_DIR defaults to build/ under the repository (configured here when it has no build.ninja).
# Without IDs every fault of the list runs. Exit status 1 when any fault was missed, stale, did not
# build or selected no test.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
list=$here/faults.list
build=${1:-$repo/build}
[[ $# -gt 0 ]] && shift
build=$(mkdir -p "$build" && cd "$build" && pwd)
wanted=("$@")

# ---- the list --------------------------------------------------------------------------------

ids=() labels=() files=() finds=() replaces=() whats=()
declare -A record=()

take_record() {
    [[ ${#record[@]} -eq 0 ]] && return 0
    local key
    for key in id labels file find replace what; do
        if [[ -z ${record[$key]:-} ]]; then
            echo "faults.list: the record \"${record[id]:-?}\" has no $key" >&2
            exit 2
        fi
    done
    ids+=("${record[id]}") labels+=("${record[labels]}") files+=("${record[file]}")
    finds+=("${record[find]}") replaces+=("${record[replace]}") whats+=("${record[what]}")
    record=()
}

while IFS= read -r line || [[ -n $line ]]; do
    if [[ -z $line ]]; then
        take_record
        continue
    fi
    [[ $line == \#* ]] && continue
    if [[ $line != *": "* ]]; then
        echo "faults.list: a line is not \"key: value\": $line" >&2
        exit 2
    fi
    record[${line%%: *}]=${line#*: }
done < "$list"
take_record

declare -A seen=()
for id in "${ids[@]}"; do
    [[ -n ${seen[$id]:-} ]] && { echo "faults.list: the id $id is used twice" >&2; exit 2; }
    seen[$id]=1
done
for id in "${wanted[@]}"; do
    [[ -z ${seen[$id]:-} ]] && { echo "run.sh: no fault named $id in faults.list" >&2; exit 2; }
done

selected() {
    local id=$1 w
    [[ ${#wanted[@]} -eq 0 ]] && return 0
    for w in "${wanted[@]}"; do [[ $w == "$id" ]] && return 0; done
    return 1
}

# ---- restoring the source --------------------------------------------------------------------

backup_dir=$(mktemp -d)
applied_file=""

restore() {
    if [[ -n $applied_file ]]; then
        # Written over, not copied with its old date: the build must see the file as newer than
        # the objects made from the faulty text.
        cat "$backup_dir/original" > "$repo/$applied_file"
        applied_file=""
    fi
}
finish() {
    restore
    rm -rf "$backup_dir"
}
trap finish EXIT
trap 'echo; echo "run.sh: interrupted, source restored" >&2; exit 130' INT TERM HUP

# How often `find` occurs in the file, and the replacement, both on bytes and literally.
count_in() {
    perl -e 'local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $s = <$f>; my $n = () = $s =~ /\Q$ARGV[1]\E/g; print $n' \
        "$1" "$2"
}
replace_in() {
    perl -e 'local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $s = <$f>; close $f;
             $s =~ s/\Q$ARGV[1]\E/$ARGV[2]/ or die; open($f, ">:raw", $ARGV[0]) or die; print $f $s; close $f or die' \
        "$1" "$2" "$3"
}

# ---- build -----------------------------------------------------------------------------------

if [[ -f /root/.bashrc_ccache ]]; then
    # shellcheck disable=SC1091
    source /root/.bashrc_ccache
fi
if [[ ! -f $build/build.ninja ]]; then
    launcher=()
    command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" > /dev/null || exit 2
fi
logs=$build/fault-logs
mkdir -p "$logs"

# The test executables of one label (targets named <label>_<file>_test; those of e2e and cli
# bring the program with them). Building only these keeps a fault to about a minute; the rest of
# the tree is rebuilt by the next ordinary build.
all_targets=$(ninja -C "$build" -t targets all 2> /dev/null | sed -n 's/^\([A-Za-z0-9_]*_test\): .*/\1/p' | sort -u)
targets_for() {
    grep "^$1_" <<< "$all_targets"
}

# Builds and runs the fault's labels one after the other, in the order the record gives them
# (cheap ones first): the first failing test settles it, so an end-to-end run is only paid for
# when the unit tests let the fault through. Prints CAUGHT, MISSED or "does not build".
try_fault() {
    local id=$1 label_list=$2 label
    local -a stage_labels
    IFS='|' read -r -a stage_labels <<< "$label_list"
    : > "$logs/$id.build.log"
    : > "$logs/$id.log"
    for label in "${stage_labels[@]}"; do
        # shellcheck disable=SC2046
        if ! cmake --build "$build" -j2 --target $(targets_for "$label") >> "$logs/$id.build.log" 2>&1; then
            echo "does not build"
            return
        fi
        if ! ctest --test-dir "$build" -L "^${label}\$" -j2 --timeout 300 --stop-on-failure >> "$logs/$id.log" 2>&1; then
            echo CAUGHT
            return
        fi
    done
    echo MISSED
}

# ---- the run ---------------------------------------------------------------------------------

results=() failed=0 started_all=$SECONDS
for i in "${!ids[@]}"; do
    id=${ids[$i]}
    selected "$id" || continue
    file=${files[$i]} label=${labels[$i]}
    started=$SECONDS
    result=""
    if [[ ! -f $repo/$file ]]; then
        result="stale (no file)"
    elif ! git -C "$repo" diff --quiet -- "$file"; then
        result="file has local changes"
    else
        n=$(count_in "$repo/$file" "${finds[$i]}")
        [[ $n != 1 ]] && result="stale (found $n times)"
    fi
    if [[ -z $result ]]; then
        IFS='|' read -r -a stage_labels <<< "$label"
        for one in "${stage_labels[@]}"; do
            if [[ -z $(targets_for "$one") ]] || ! ctest --test-dir "$build" -N -L "^${one}\$" 2> /dev/null | grep -q "Total Tests: [1-9]"; then
                result="no tests for $one"
            fi
        done
    fi
    if [[ -z $result ]]; then
        printf '%-34s %-22s ' "$id" "$label"
        cp "$repo/$file" "$backup_dir/original"
        applied_file=$file
        replace_in "$repo/$file" "${finds[$i]}" "${replaces[$i]}" || result="could not apply"
        [[ -z $result ]] && result=$(try_fault "$id" "$label")
        restore
        if ! git -C "$repo" diff --quiet -- "$file"; then
            echo "run.sh: $file differs from git after restoring it" >&2
            exit 2
        fi
    else
        printf '%-34s %-22s ' "$id" "$label"
    fi
    seconds=$((SECONDS - started))
    echo "$result (${seconds} s)"
    [[ $result == CAUGHT ]] || failed=1
    results+=("$(printf '%-34s %-22s %-24s %5s' "$id" "$label" "$result" "$seconds")")
done

echo
printf '%-34s %-22s %-24s %5s\n' id labels result seconds
printf '%s\n' "${results[@]}"
echo "total: ${#results[@]} faults, $((SECONDS - started_all)) s; logs in $logs"
if [[ $failed -ne 0 ]]; then
    echo "FAIL: some fault was not caught (missed, stale, did not build or had no tests)"
    exit 1
fi
echo "every fault was caught"
