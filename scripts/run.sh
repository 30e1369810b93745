#!/usr/bin/env bash
# Sets up the machine, builds the normal build and runs the station's main job.
#
# The archiving job itself is not built yet. Until it is, this prints the version and the
# subsystems built, then starts a simulated recorder on a free loopback port and probes it
# with the station's own client: connect, log in, and show the recorder's product and
# system information, recording calendar and time table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release

bin=build/release/apps
"$bin/quillfen/quillfen" --version

user=admin
password=secret
output=$(mktemp)
"$bin/recorder-sim/recorder-sim" --listen 127.0.0.1:0 --user "$user" --password "$password" >"$output" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$output"' EXIT

address=""
for _ in $(seq 1 100); do
  address=$(sed -n 's/^listening on //p' "$output")
  [ -n "$address" ] && break
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "run: the simulated recorder did not start" >&2
  exit 1
fi

echo
echo "Simulated recorder listening on $address"
"$bin/quillfen/quillfen" probe --address "${address%:*}" --port "${address##*:}" \
  --user "$user" --password "$password" "$@"
