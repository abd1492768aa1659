#!/usr/bin/env bash
# Injects faults of faults.list one at a time into a temporary git worktree of HEAD, rebuilds what
# the fault's labels test, runs those tests and expects one to fail, naming the first that did.
# Each label's tests first run once without any fault, before the first fault that needs them: a
# red baseline stops everything, since an already failing test would make every fault look caught.
# The working tree is never edited.
#
#   tests/faults/run.sh [--id REGEX] [--file REGEX] [--with-changes] [--keep] [--parent DIR]
#                       [--jobs N] [--cmake-arg ARG]...
#
# Exit status: 0 when every selected fault was caught, 1 when one was not (missed, stale, did not
# build, no tests), 2 when the run could not be made (red baseline, bad list, bad option).
set -uo pipefail

usage() {
    sed -n '2,12s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
    cat << 'EOF'

  --id REGEX       only the faults whose id matches (extended regex, e.g. 'journal|^pick-')
  --file REGEX     only the faults whose file matches (e.g. 'src/engine/multipart')
  --with-changes   also carry the working tree's uncommitted changes (tracked and new files)
                   into the temporary worktree, to try records or tests before committing them
  --keep           leave the temporary worktree and its build in place (it is named at the end)
  --parent DIR     where the temporary worktree is made; default: the repository's folder (its
                   /build*/ entries are ignored by git), so that a ccache base_dir covering the
                   repository also covers it and the first build mostly hits the cache
  --jobs N         build and test jobs (default 2)
  --cmake-arg ARG  passed to cmake when configuring (e.g. -DZAFREL_SANITIZE=ON); repeatable
EOF
}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel) || exit 2
id_regex="" file_regex="" with_changes=0 keep=0 parent=$repo jobs=2
cmake_args=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --id) id_regex=${2:?--id needs a regex}; shift 2 ;;
        --file) file_regex=${2:?--file needs a regex}; shift 2 ;;
        --with-changes) with_changes=1; shift ;;
        --keep) keep=1; shift ;;
        --parent) parent=${2:?--parent needs a folder}; shift 2 ;;
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        --cmake-arg) cmake_args+=("${2:?--cmake-arg needs a value}"); shift 2 ;;
        -h | --help) usage; exit 0 ;;
        *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

# ---- the temporary worktree ------------------------------------------------------------------

tree=$(mktemp -d "$parent/build-faults.XXXXXX") || exit 2
logs=$(mktemp -d "${TMPDIR:-/tmp}/zafrel-fault-logs.XXXXXX") || exit 2
backup=$logs/.original
applied=""

restore() {
    if [[ -n $applied ]]; then
        # Written over, not copied with its old date: the build must see the file as newer than
        # the objects made from the faulty text.
        cat "$backup" > "$tree/$applied"
        applied=""
    fi
}
cleanup() {
    restore
    rm -f "$backup"
    if [[ $keep -eq 1 ]]; then
        echo "worktree kept: $tree (remove it with: git worktree remove --force $tree)"
        return
    fi
    git -C "$repo" worktree remove --force "$tree" 2> /dev/null || rm -rf "$tree"
    git -C "$repo" worktree prune
}
trap cleanup EXIT
trap 'echo; echo "run.sh: interrupted" >&2; exit 130' INT TERM HUP

git -C "$repo" worktree add --detach --quiet "$tree" HEAD || exit 2
echo "worktree: $tree at $(git -C "$tree" rev-parse --short HEAD)"
if [[ $with_changes -eq 1 ]]; then
    git -C "$repo" diff HEAD --binary | git -C "$tree" apply --whitespace=nowarn || exit 2
    git -C "$repo" ls-files --others --exclude-standard -z | (cd "$repo" && xargs -0 -r cp --parents -t "$tree") || exit 2
    echo "with the working tree's uncommitted changes"
fi
# The stand-in service's packages are not in git: the end-to-end tests use the working tree's.
if [[ -d $repo/devserver/node_modules && ! -e $tree/devserver/node_modules ]]; then
    ln -s "$repo/devserver/node_modules" "$tree/devserver/node_modules"
fi

# ---- the list --------------------------------------------------------------------------------

list=$tree/tests/faults/faults.list
ids=() labels=() files=() finds=() replaces=()
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
    finds+=("${record[find]}") replaces+=("${record[replace]}")
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

selected=()
for i in "${!ids[@]}"; do
    [[ -n $id_regex && ! ${ids[$i]} =~ $id_regex ]] && continue
    [[ -n $file_regex && ! ${files[$i]} =~ $file_regex ]] && continue
    selected+=("$i")
done
if [[ ${#selected[@]} -eq 0 ]]; then
    echo "run.sh: no fault of faults.list matches" >&2
    exit 2
fi

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

# ---- build and tests -------------------------------------------------------------------------

build=$tree/build
echo "configuring $build"
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cmake_args[@]}" > "$logs/configure.log" 2>&1 \
    || { echo "run.sh: cmake failed, see $logs/configure.log" >&2; exit 2; }

# The test executables of one label (targets named <label>_<file>_test; those of e2e and cli
# bring the program with them). Building only these keeps a fault to about a minute.
all_targets=$(ninja -C "$build" -t targets all 2> /dev/null | sed -n 's/^\([A-Za-z0-9_]*_test\): .*/\1/p' | sort -u)
targets_for() {
    grep "^$1_" <<< "$all_targets"
}
# Tests are discovered from their executables: asked once the label's targets are built.
has_tests() {
    [[ -n $(targets_for "$1") ]] && ctest --test-dir "$build" -N -L "^$1\$" 2> /dev/null | grep -q "Total Tests: [1-9]"
}
build_label() {
    # shellcheck disable=SC2046
    cmake --build "$build" -j"$jobs" --target $(targets_for "$1") >> "$2" 2>&1
}
# Runs the label's tests; on a failure prints the name of the first test ctest reported failed.
# The log holds the output of every failed test.
run_label() {
    local label=$1 log=$2 stop=${3:-}
    # shellcheck disable=SC2086
    ctest --test-dir "$build" -L "^${label}\$" -j"$jobs" --timeout 300 --output-on-failure $stop >> "$log" 2>&1 && return 0
    local name
    name=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" | grep -v ' Passed ' | head -n 1 \
        | sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+).*/\1/')
    echo "${name:-(no test named: see the log)}"
    return 1
}

# A label's tests must pass without any fault, or no result of them would mean anything: run once
# per label, just before the first fault that needs it, on the tree as it is. A red baseline ends
# the whole run. Answers 1 when the label has no tests.
declare -A baseline_state=()
baseline_seconds=0   # not counted in the seconds of the fault that waited for them
baseline() {
    local label=$1 started=$SECONDS failed
    local log=$logs/baseline-$label.log
    baseline_state[$label]=none
    printf 'baseline of %-8s ' "$label"
    if ! build_label "$label" "$log"; then
        echo "does not build"
        echo "run.sh: the tree does not build for $label without any fault, see $log" >&2
        exit 2
    fi
    if ! has_tests "$label"; then
        echo "no tests"
        return 1
    fi
    if ! failed=$(run_label "$label" "$log"); then
        echo "RED: $failed fails"
        echo "run.sh: the $label tests fail without any fault (first: $failed), see $log" >&2
        exit 2
    fi
    baseline_state[$label]=green
    baseline_seconds=$((baseline_seconds + SECONDS - started))
    echo "green ($((SECONDS - started)) s)"
}

apply_fault() {
    local i=$1
    cp "$tree/${files[$i]}" "$backup"
    applied=${files[$i]}
    replace_in "$tree/${files[$i]}" "${finds[$i]}" "${replaces[$i]}"
}

# Builds and runs the fault's labels one after the other, in the order the record gives them
# (cheap ones first): the first failing test settles it, so an end-to-end run is only paid for
# when the unit tests let the fault through. Sets `result`; the fault is in place on entry.
try_fault() {
    local i=$1 label failed
    local -a stage_labels
    IFS='|' read -r -a stage_labels <<< "${labels[$i]}"
    for label in "${stage_labels[@]}"; do
        if [[ -z ${baseline_state[$label]:-} ]]; then
            restore
            baseline "$label"
            apply_fault "$i" || { result="could not apply"; return; }
        fi
        if [[ ${baseline_state[$label]} != green ]]; then
            result="no tests for $label"
            return
        fi
        build_label "$label" "$logs/${ids[$i]}.build.log" || { result="does not build"; return; }
        if ! failed=$(run_label "$label" "$logs/${ids[$i]}.log" --stop-on-failure); then
            result="CAUGHT by $failed"
            return
        fi
    done
    result=MISSED
}

# ---- the faults ------------------------------------------------------------------------------

results=() all_caught=1 started_all=$SECONDS
for i in "${selected[@]}"; do
    id=${ids[$i]} file=${files[$i]} label=${labels[$i]}
    started=$((SECONDS - baseline_seconds))
    result=""
    if [[ ! -f $tree/$file ]]; then
        result="stale (no file)"
    else
        n=$(count_in "$tree/$file" "${finds[$i]}")
        [[ $n != 1 ]] && result="stale (found $n times)"
    fi
    if [[ -z $result ]]; then
        IFS='|' read -r -a parts <<< "$label"
        for one in "${parts[@]}"; do
            [[ -z $(targets_for "$one") ]] && result="no tests for $one"
        done
    fi
    if [[ -z $result ]]; then
        if apply_fault "$i"; then
            try_fault "$i"
        else
            result="could not apply"
        fi
        restore
        if ! cmp -s "$backup" "$tree/$file"; then
            echo "run.sh: $file differs from its original after restoring it" >&2
            exit 2
        fi
    fi
    line=$(printf '%-36s %-24s %5s  %s' "$id" "$label" "$((SECONDS - baseline_seconds - started))" "$result")
    echo "$line"
    [[ $result == CAUGHT* ]] || all_caught=0
    results+=("$line")
done

echo
printf '%-36s %-24s %5s  %s\n' id labels s result
printf '%s\n' "${results[@]}"
echo "total: ${#results[@]} faults, $((SECONDS - started_all)) s; logs in $logs"
if [[ $all_caught -eq 0 ]]; then
    echo "FAIL: some fault was not caught (missed, stale, did not build or had no tests)"
    exit 1
fi
echo "every fault was caught"
