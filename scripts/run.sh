#!/usr/bin/env bash
# Sets up the machine, builds the normal build and runs the station's main job: a simulated
# recorder with a demonstration recording, the station archiving it, and the status list
# refreshed until Ctrl-C, which stops the station cleanly (every schedule flushes and
# closes its group). Running it again resumes where it stopped.
#
# Everything lives under build/demo/: the station's data directory (app.db, token), the
# storage group, and the simulator's output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release

bin=build/release/apps
quillfen="$bin/quillfen/quillfen"
sim="$bin/recorder-sim/recorder-sim"
demo=build/demo
data="$demo/data"
storages="$demo/storages"
mkdir -p "$demo"
"$quillfen" --version

user=admin
password=secret
site=Demo

# A port the station accepts for a recorder (1501..32001): the usual playback port when
# it is free, else another one.
port=""
for candidate in 10102 $(seq 21100 21199); do
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
if [ -z "$port" ]; then
  echo "run: no free port for the simulated recorder" >&2
  exit 1
fi

# Two hours of recording on two cameras with audio, events and text-in, in twelve slices.
# The recorder and the station run in sessions of their own, so that Ctrl-C reaches only
# this script, which stops the station first: a recorder gone before the station would end
# the site's run with "Disconnected" and it would not resume next time.
setsid "$sim" --listen "127.0.0.1:$port" --user "$user" --password "$password" \
  --channels 2 --slices 12 --slice-seconds 600 --gap-seconds 60 \
  --min-key-frame-size 20000 --max-key-frame-size 60000 >"$demo/recorder-sim.out" 2>&1 &
sim_pid=$!
station_pid=""
stop_all() {
  trap - INT TERM EXIT
  if [ -n "$station_pid" ]; then
    echo
    echo "Stopping the station (it flushes and closes the storage group)..."
    kill -TERM "$station_pid" 2>/dev/null || true
    wait "$station_pid" 2>/dev/null || true
  fi
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap stop_all INT TERM EXIT

for _ in $(seq 1 100); do
  grep -q '^listening on ' "$demo/recorder-sim.out" && break
  sleep 0.1
done
if ! grep -q '^listening on ' "$demo/recorder-sim.out"; then
  echo "run: the simulated recorder did not start:" >&2
  cat "$demo/recorder-sim.out" >&2
  exit 1
fi
echo "Simulated recorder listening on 127.0.0.1:$port"

setsid "$quillfen" run --data-dir "$data" --storage-dir "$storages" 2>"$demo/station.log" >"$demo/station.out" &
station_pid=$!
for _ in $(seq 1 100); do
  grep -q '^listening on ' "$demo/station.out" 2>/dev/null && break
  if ! kill -0 "$station_pid" 2>/dev/null; then
    station_pid=""
    echo "run: the station did not start:" >&2
    cat "$demo/station.log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "Station $(sed -n 's/^listening on //p' "$demo/station.out"), data in $data (log: $demo/station.log)"

if "$quillfen" status --json --data-dir "$data" | grep -q "\"name\": \"$site\""; then
  # Resumed by the station; the recorder may listen on another port this time.
  "$quillfen" site update "$site" --port "$port" --data-dir "$data" >/dev/null
else
  echo "Adding the demonstration site '$site' (one 1 GB storage, archiving from the first recording)"
  echo "$password" | "$quillfen" site add --data-dir "$data" --name "$site" --address 127.0.0.1 \
    --port "$port" --user "$user" --password-stdin --storages 1 --size 1 --overwrite-group-file
fi
sleep 1
"$quillfen" status --watch --data-dir "$data" || true
