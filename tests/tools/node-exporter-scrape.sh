#!/usr/bin/env bash
# A metrics file scraped by a real collector: Debian's prometheus-node-exporter with only its
# textfile collector, on a free loopback port, reads the folder that holds FILE. The scrape
# must report node_textfile_scrape_error 0 and carry every series of the file exactly once,
# and promtool must accept the file. Exit 77 (skipped) when node_exporter is not installed.
#   node-exporter-scrape.sh FILE.prom WORK_DIR
set -euo pipefail
file="$1" work="$2"
fail() { echo "FAIL: $*"; exit 1; }
exporter="$(command -v prometheus-node-exporter || command -v node_exporter || true)"
if [ -z "$exporter" ]; then
  echo "prometheus-node-exporter is not installed: skipped"
  exit 77
fi
[ -s "$file" ] || fail "no metrics file at $file"
mkdir -p "$work"
if command -v promtool >/dev/null; then
  promtool check metrics <"$file" || fail "promtool check metrics"
fi

# A port nothing listens on now (the kernel's pick for a socket bound to port 0).
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
"$exporter" --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory "$(dirname "$file")" \
  --web.listen-address "127.0.0.1:$port" >"$work/exporter.log" 2>&1 &
exporter_pid=$!
trap 'kill "$exporter_pid" 2>/dev/null || true; wait "$exporter_pid" 2>/dev/null || true' EXIT
# Until it answers (bounded for a loaded machine), or until it has ended.
for ((i = 0; i < 600; i++)); do
  curl -sf "http://127.0.0.1:$port/metrics" >"$work/scrape.txt" 2>/dev/null && break
  kill -0 "$exporter_pid" 2>/dev/null || fail "node_exporter ended: $(cat "$work/exporter.log")"
  sleep 0.1
done
[ -s "$work/scrape.txt" ] || fail "node_exporter did not answer on port $port"

grep -qx 'node_textfile_scrape_error 0' "$work/scrape.txt" ||
  fail "node_textfile_scrape_error: $(grep node_textfile_scrape_error "$work/scrape.txt"; cat "$work/exporter.log")"
# Every series of the file (name and labels, in any order) once in the scrape, nothing more.
python3 - "$file" "$work/scrape.txt" <<'PY' || fail "the scrape does not carry the file's series"
import re, sys
label = re.compile(r'(\w+)="((?:[^"\\]|\\.)*)"')
def series(path, prefix):
    found = []
    for line in open(path, encoding="utf-8"):
        if line.startswith("#") or not line.startswith(prefix):
            continue
        head = line.rstrip("\n").rsplit(" ", 1)[0]
        name, _, labels = head.partition("{")
        found.append((name, tuple(sorted(label.findall(labels)))))
    return found
mine, scraped = series(sys.argv[1], ""), series(sys.argv[2], "crvnic_")
problems = [f"twice in the scrape: {s}" for s in set(scraped) if scraped.count(s) > 1]
problems += [f"missing: {s}" for s in set(mine) - set(scraped)]
problems += [f"not in the file: {s}" for s in set(scraped) - set(mine)]
problems += [f"twice in the file: {s}" for s in set(mine) if mine.count(s) > 1]
for p in problems[:5]:
    print(p)
sys.exit(1 if problems or not mine else 0)
PY
echo "node_exporter scraped $(grep -c '^crvnic_' "$work/scrape.txt") series of $file, scrape error 0"
