#!/usr/bin/env bash
# scripts/mutate kept working: a few mutants of one small core against the
# tests of its subsystem (a full sample is a developer's run, see
# docs/building-and-testing.md), then the same run killed outright mid-way,
# after which --restore must put the source back. Fails when a mutant is not
# restored, when nothing is killed, or when the tool breaks.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_MUTATE_BUILD_DIR:-$top/build-mutate-ci}
"$top/scripts/bootstrap" test mutate

work=$(mktemp -d)
runner=""
cleanup() {
  if [ -n "$runner" ]; then kill -9 "$runner" 2>/dev/null || true; fi
  "$top/scripts/mutate" --build-dir "$build" --restore >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

tree_sum() { find "$top/src" -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum; }
before=$(tree_sum)

mutate=("$top/scripts/mutate" --build-dir "$build" --sanitize never --seed 7
        --files '/uuid\.cpp$' --tests '^test_(uuid|frame)$' --per-file 4 --count 4)
"${mutate[@]}" --json "$work/results.json"
[ "$(tree_sum)" = "$before" ] || { echo "mutate-smoke: src/ differs after the run" >&2; exit 1; }
/usr/bin/python3 - "$work/results.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))
killed = sum(r["status"] == "killed" for r in results)
print(f"mutate-smoke: {len(results)} mutants, {killed} killed")
if killed == 0:
    sys.exit("mutate-smoke: no mutant was killed")
PY

# Killed without a chance to clean up while a mutant is in place: the
# journal in the build folder must bring the source back.
"${mutate[@]}" >"$work/killed.log" 2>&1 &
runner=$!
for _ in $(seq 600); do
  if compgen -G "$build/mutate-journal/*.json" >/dev/null; then break; fi
  sleep 0.1
done
compgen -G "$build/mutate-journal/*.json" >/dev/null ||
  { cat "$work/killed.log" >&2; echo "mutate-smoke: no mutant was ever in place" >&2; exit 1; }
# Its build or test run is in a session of its own: stopped too.
children=$(pgrep -P "$runner" || true)
kill -9 "$runner"
wait "$runner" 2>/dev/null || true
runner=""
for c in $children; do kill -9 -- "-$c" 2>/dev/null || true; done
[ "$(tree_sum)" != "$before" ] || echo "mutate-smoke: (killed between mutants)"
"$top/scripts/mutate" --build-dir "$build" --restore
[ "$(tree_sum)" = "$before" ] || { echo "mutate-smoke: --restore left src/ mutated" >&2; exit 1; }
echo "mutate-smoke: source restored after a hard kill"
