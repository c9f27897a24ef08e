#!/usr/bin/env bash
# The conversion without a window over the corpus, as archives use it, with the real office
# and no display: one run; the same job in two shards side by side under GNU parallel, which
# must give the same pages under the same names and the same statuses; and a shard killed
# with SIGKILL in the middle and run again, which must complete the set and leave nothing
# behind (no office, no staging, no socket).
#   tests/convert/tst_parallel.sh PROGRAM CORPUS_DIR
set -euo pipefail
trap 'echo "tst_parallel.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
program=$1
corpus=$2
if [[ ! -d $corpus ]]; then
    echo "SKIPPED: no corpus at $corpus"
    exit 77
fi
if ! command -v parallel >/dev/null; then
    echo "GNU parallel is missing: scripts/setup.sh --tests installs it" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A home of its own (the office's profiles and the run's ledger live there), and no display.
mkdir "$work/home"
export HOME=$work/home
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
sockets() { find /tmp -maxdepth 1 -name "OSL_PIPE_$(id -u)_docuflume-*" 2>/dev/null | wc -l; }
ours() { pgrep -u "$(id -u)" -f 'pipe,name=docuflume-' | wc -l || true; }
sockets_before=$(sockets)
convert() { "$program" --convert "$@" "$corpus" 2>>"$work/progress.txt"; }

# One run over everything: documents that fail on purpose make its status 1.
status=0
convert --output "$work/single" --report "$work/single.csv" || status=$?
if ((status != 1)); then
    echo "one run ended with status $status, not 1" >&2
    exit 1
fi

# The same job as two shards side by side.
parallel -j2 "$program" --convert --output "$work/shards" --report "$work/shards.csv" \
    --shard '{}/2' "$corpus" ::: 0 1 2>>"$work/progress.txt" || true

# The pages and reports are read as a user's tools read them (the CSV with Python's own
# reader), and compared: the same files under the same names, the same rows.
compare() {
    python3 - "$work" "$@" <<'PYTHON'
import csv, os, sys
work, reports = sys.argv[1], sys.argv[2:]
def rows(path):
    with open(path, newline='', encoding='utf-8') as f:
        read = list(csv.reader(f))
    assert read[0] == ['source', 'page', 'status', 'class', 'failure', 'seconds', 'words'], read[0]
    for row in read[1:]:
        assert len(row) == 7, row
        assert row[2] in ('converted', 'failed'), row
        assert (row[2] == 'failed') == (row[3] != ''), row
    return {row[0]: (os.path.basename(row[1]), row[2], row[3]) for row in read[1:]}, len(read) - 1
def files(folder):
    top = os.path.join(work, folder)
    return sorted(os.path.relpath(os.path.join(d, f), top)
                  for d, folders, names in os.walk(top) for f in names + folders)
single, count = rows(os.path.join(work, 'single.csv'))
union, total = {}, 0
for report in reports:
    part, n = rows(os.path.join(work, report))
    union.update(part)
    total += n
assert total == count and union == single, 'the shards differ from the one run: %s' % sorted(
    set(union.items()) ^ set(single.items()))[:10]
assert files('single') == files('shards'), 'the files differ: %s' % sorted(
    set(files('single')) ^ set(files('shards')))[:10]
converted = sum(1 for row in single.values() if row[1] == 'converted')
print('%d documents, %d converted, the same in both shards together' % (count, converted))
PYTHON
}
compare shards-0-of-2.csv shards-1-of-2.csv

# Shard 0 again, killed with SIGKILL once it has reported two documents, then run again.
"$program" --convert --output "$work/shards" --report "$work/shards.csv" --shard 0/2 \
    "$corpus" 2>>"$work/progress.txt" &
killed=$!
for _ in $(seq 600); do
    (($(wc -l <"$work/shards-0-of-2.csv" 2>/dev/null || echo 0) >= 3)) && break
    sleep 0.1
done
kill -9 "$killed"
wait "$killed" 2>/dev/null || true
python3 -c 'import csv, sys; list(csv.reader(open(sys.argv[1], newline="")))' \
    "$work/shards-0-of-2.csv" # what the killed run left is a valid report
convert --output "$work/shards" --report "$work/shards.csv" --shard 0/2 || true
compare shards-0-of-2.csv shards-1-of-2.csv
# (The office's instances die with the run; a moment for the kernel to reap them.)
for _ in $(seq 50); do
    (($(ours) == 0)) && break
    sleep 0.1
done
if (($(ours) > 0)) || (($(sockets) != sockets_before)); then
    echo "left behind: $(ours) office processes, $(($(sockets) - sockets_before)) sockets" >&2
    exit 1
fi
echo "killed with SIGKILL and run again: the set complete, nothing left behind"
