#!/usr/bin/env bash
# dorvex-cli check and plan on real authored DVD folders, damaged in each way the tool fixes:
# check must report findings wherever the independent libdvdread checker does; plan -u must
# agree with the clean -u that follows (packs removed, blank packs, cells dropped and renumbered,
# renamed files, navpacks changed, IFO files changed) and write nothing; check must pass on the
# result wherever the independent checker passes.
#
#   check-plan.sh DORVEX_CLI DVDCHECK FIXTURE_FOLDER WORK_FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

CLI="$1"
DVDCHECK="$2"
FIXTURE="$3"
WORK="$4"
require_fixture "$FIXTURE"

tree_sums() {
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha1sum)
}

# The plan's figures against what the clean run logged and wrote.
compare_plan() {
    python3 - "$@" <<'PY'
import json, os, re, sys
plan_file, log_file, before, after = sys.argv[1:5]
plan = json.load(open(plan_file, encoding="utf-8"))
log = open(log_file, encoding="utf-8", errors="replace").read().splitlines()
problems = []
step = plan["steps"][0]

removed = int(re.search(r"(\d+) packs removed", "\n".join(log)).group(1))
if step["packs"]["removed"] != removed:
    problems.append(f"packs removed: plan {step['packs']['removed']}, clean {removed}")
blanks = sum(1 for line in log if line.startswith("Skipping blank pack"))
if step["blankPacks"]["removed"] != blanks:
    problems.append(f"blank packs: plan {step['blankPacks']['removed']}, clean {blanks}")

dropped = {m.group(1) for m in (re.fullmatch(r"VCID (\d+/\d+) is unreferenced\.\.\.", l) for l in log) if m}
remapped = {m.group(1) + ">" + m.group(2) for m in (re.fullmatch(r"Remapping (\d+/\d+) to (\d+/\d+)", l) for l in log) if m}
plan_dropped = {f"{c['vobId']}/{c['cellId']}" for c in step["cells"] if c["action"] == "drop"}
plan_remapped = {f"{c['vobId']}/{c['cellId']}>{c['newVobId']}/{c['newCellId']}" for c in step["cells"] if c["action"] == "renumber"}
if plan_dropped != dropped:
    problems.append(f"cells dropped: plan {sorted(plan_dropped)}, clean {sorted(dropped)}")
if plan_remapped != remapped:
    problems.append(f"cells renumbered: plan {sorted(plan_remapped)}, clean {sorted(remapped)}")

renamed = {m.group(1) + ">" + m.group(2) for m in (re.fullmatch(r"Renaming (\S+) to (\S+)", l) for l in log) if m}
plan_renamed = {os.path.splitext(os.path.basename(f["path"]))[0] + ">" + os.path.splitext(os.path.basename(f["to"]))[0]
                for f in plan["files"] if f["action"] == "rename"}
if plan_renamed != renamed:
    problems.append(f"renamed: plan {sorted(plan_renamed)}, clean {sorted(renamed)}")

def navpacks(folder):
    packs = []
    for part in range(1, 10):
        path = os.path.join(folder, f"VTS_01_{part}.VOB")
        if not os.path.exists(path):
            continue
        data = open(path, "rb").read()
        for off in range(0, len(data) - 2047, 2048):
            p = data[off:off + 2048]
            if p[38:42] == b"\0\0\1\xbf" and p[1024:1028] == b"\0\0\1\xbf":
                packs.append(p)
    return packs
kept = [p for p in navpacks(before) if f"{int.from_bytes(p[1055:1057], 'big')}/{p[1058]}" not in dropped]
result = navpacks(after)
if len(kept) != len(result):
    problems.append(f"navpacks kept: {len(kept)} expected, {len(result)} in the result")
else:
    changed = sum(1 for a, b in zip(kept, result) if a != b)
    if step["navpacks"]["changed"] != changed:
        problems.append(f"navpacks changed: plan {step['navpacks']['changed']}, clean {changed}")

for ifo in plan["ifo"]:
    name = ifo["file"]
    same = open(os.path.join(before, name), "rb").read() == open(os.path.join(after, name), "rb").read()
    if same != (len(ifo["changes"]) == 0):
        problems.append(f"{name}: plan lists {ifo['changes']}, clean {'left it' if same else 'changed it'}")

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
}

# prepare DIR FIXTURE DAMAGE: DIR/input, the fixture damaged, and DIR/VIDEO_TS, its copy to work on.
prepare() {
    rm -rf "$1"
    mkdir -p "$1"
    cp -a "$2" "$1/input"
    if [ "$3" != none ]; then
        python3 "$DAMAGE" "$1/input" "$3" >/dev/null || return 1
    fi
    cp -a "$1/input" "$1/VIDEO_TS"
}

check_case() {
    local standard="$1" damage="$2"
    local dir="$WORK/$damage"
    prepare "$dir" "$FIXTURE" "$damage" || { fail "$damage: damage"; return; }

    # check where the independent checker finds something (the same set of findings or more).
    "$DVDCHECK" "$dir/VIDEO_TS" >"$dir/dvdcheck-before.log" 2>&1
    local reference=$?
    "$CLI" check --json "$dir/VIDEO_TS" >"$dir/check-before.json"
    local status=$?
    python3 -m json.tool "$dir/check-before.json" >/dev/null || fail "$damage: check output is not JSON"
    if [ $reference -ne 0 ] && [ $status -ne 1 ]; then
        fail "$damage: dvdcheck finds $(grep -c FAIL "$dir/dvdcheck-before.log") problem(s), check exits $status"
    fi
    if [ "$damage" != none ] && [ $status -ne 1 ]; then
        fail "$damage: check finds nothing on the damaged copy"
    fi
    if [ "$damage" = none ] && [ $status -ne 0 ]; then
        # A freshly authored disc checks clean (dvdauthor's padded video manager is a note).
        fail "$damage: check finds something on the undamaged disc: $(head -c 300 "$dir/check-before.json")"
    fi

    # plan writes nothing.
    local sums
    sums="$(tree_sums "$dir/VIDEO_TS")"
    "$CLI" plan -u --json "$dir/VIDEO_TS" >"$dir/plan.json" 2>"$dir/plan.err" || fail "$damage: plan exited $?"
    [ "$sums" = "$(tree_sums "$dir/VIDEO_TS")" ] || fail "$damage: plan changed the folder"
    [ -d "$dir/VIDEO_TS/DorvexBackup" ] && fail "$damage: plan made a backup folder"

    "$CLI" clean -u -q --log "$dir/clean.log" "$dir/VIDEO_TS/VTS_01_1.VOB" || { fail "$damage: clean exited $?"; return; }
    rm -rf "$dir/VIDEO_TS/DorvexBackup"
    compare_plan "$dir/plan.json" "$dir/clean.log" "$dir/input" "$dir/VIDEO_TS" >"$dir/compare.log" ||
        fail "$damage: plan and clean disagree: $(tr '\n' ' ' <"$dir/compare.log")"

    "$DVDCHECK" "$dir/VIDEO_TS" >"$dir/dvdcheck-after.log" 2>&1
    reference=$?
    "$CLI" check "$dir/VIDEO_TS" >"$dir/check-after.txt"
    status=$?
    if [ $reference -eq 0 ] && [ $status -ne 0 ]; then
        fail "$damage: dvdcheck passes the cleaned disc, check does not: $(grep '^  ' "$dir/check-after.txt" | head -3 | tr '\n' ' ')"
    fi
    if [ $reference -ne 0 ] && [ $status -eq 0 ]; then
        fail "$damage: dvdcheck fails the cleaned disc, check passes it"
    fi
    echo "$standard $damage: dvdcheck $reference, check $status after clean; plan agrees"
}

# Folders other tools leave. check must fail wherever dvdcheck (libdvdread) fails and name a
# missing VOB once, where plan -f says the run keeps its tables; after clean -f -u the same.
#   other_case NAME FIXTURE DAMAGE COUNTS_BEFORE COUNTS_AFTER (check's counts: kind=n,...)
other_case() {
    local name="$1" fixture="$2" damage="$3" before="$4" after="$5"
    local dir="$WORK/$name"
    prepare "$dir" "$fixture" "$damage" || { fail "$name: damage"; return; }
    local vob
    vob="$(cd "$dir/VIDEO_TS" && ls *.VOB | head -1)"
    for when in before after; do
        local expected="$before"
        [ "$when" = after ] && expected="$after"
        "$DVDCHECK" "$dir/VIDEO_TS" >"$dir/dvdcheck-$when.log" 2>&1
        local reference=$?
        "$CLI" check --json "$dir/VIDEO_TS" >"$dir/check-$when.json"
        local status=$?
        if [ $reference -ne 0 ] && [ $status -eq 0 ]; then
            fail "$name: dvdcheck fails the disc $when cleaning, check passes it: $(grep FAIL "$dir/dvdcheck-$when.log" | head -2 | tr '\n' ' ')"
        fi
        python3 - "$dir/check-$when.json" "$expected" <<'PY' || fail "$name: check $when cleaning: $(head -c 400 "$dir/check-$when.json")"
import json, sys
report = json.load(open(sys.argv[1]))
expected = {k: int(n) for k, n in (p.split("=") for p in sys.argv[2].split(",") if p)}
findings = [f for g in report["titleSets"] for f in g["findings"]]
sys.exit(0 if report["counts"] == expected and all(f["file"] for f in findings) else 1)
PY
        if [ "$when" = before ]; then
            local sums
            sums="$(tree_sums "$dir/VIDEO_TS")"
            "$CLI" plan -u -f --json "$dir/VIDEO_TS/$vob" >"$dir/plan.json" || fail "$name: plan exited $?"
            [ "$sums" = "$(tree_sums "$dir/VIDEO_TS")" ] || fail "$name: plan changed the folder"
            # What plan keeps is what check names missing, sector for sector.
            python3 - "$dir/plan.json" "$dir/check-before.json" <<'PY' || fail "$name: plan -f and check disagree on missing VOBs"
import json, os, sys
plan, check = (json.load(open(f)) for f in sys.argv[1:3])
kept = sorted(f"{os.path.basename(m['vob'])} is missing; the IFO describes {m['describedSectors']:,} sectors"
              for m in plan["missingVobs"] if m["action"] == "keep")
named = sorted(f["message"] for g in check["titleSets"] for f in g["findings"] if f["kind"] == "vob-missing")
sys.exit(0 if kept == named else 1)
PY
            "$CLI" clean -u -f -q --log "$dir/clean.log" "$dir/VIDEO_TS/$vob" || { fail "$name: clean exited $?"; return; }
            rm -rf "$dir/VIDEO_TS/DorvexBackup"
        fi
    done
    echo "$name: check and plan agree"
}

standard="$(basename "$(dirname "$FIXTURE")")"
for damage in none blank unref navlba pgcsectors gap; do
    check_case "$standard" "$damage"
done
if [ "$standard" = pal ]; then
    other_case notitles "$FIXTURE" notitles vob-missing=1 vob-missing=1
    other_case vmgonly "$FIXTURE" vmgonly ifo-damaged=2 ifo-damaged=2
    # An empty TT_SRPT is not this program's to mend: libdvdread refuses it before and after.
    other_case novts "$FIXTURE" novts libdvdread-refuses=2,libdvdread-warning=1 libdvdread-refuses=1
    # dvdauthor starts menus of commands only at a sector where no menu VOB follows.
    other_case menucmd "$(dirname "$(dirname "$FIXTURE")")/menucmd/VIDEO_TS" none size-field=2 ""
fi
finish
