#!/bin/bash
# How long `skyvane --headless` takes to honour SIGTERM while it records a title
# flood (a metadata block after every audio byte, a new title every two, from
# bench_station), and whether the list was stored. Run after `make bench`, from
# the project folder; it works in a scratch home below /tmp.
set -eu
BIN=${1:-build-release/bin}
H=$(mktemp -d /tmp/skyvane-flood-XXXXXX)
trap 'kill $STATION 2>/dev/null; rm -rf "$H"' EXIT
export HOME=$H XDG_DATA_HOME=$H/.local/share XDG_CONFIG_HOME=$H/.config XDG_RUNTIME_DIR=$H
mkdir -p "$XDG_DATA_HOME"
"$BIN/bench_station" --metaint 1 --title-every 2 > "$H/port" &
STATION=$!
sleep 1
# Out of a minute's last seconds, so the recording is still due when it is read.
while [ "$(date +%-S)" -ge 50 ]; do sleep 1; done
NOW=$(( $(date +%-H) * 60 + $(date +%-M) ))
printf '[{"name": "Flood", "url": "http://127.0.0.1:%s/live", "daily": true, "startTime": %s, "splitSongs": true, "playList": ""}]' \
    "$(head -1 "$H/port")" "$NOW" > "$XDG_DATA_HOME/Skyvane.reclist"
"$BIN/skyvane" --headless > /dev/null &
SKYVANE=$!
sleep 6
START=$(date +%s%N)
kill -TERM $SKYVANE
wait $SKYVANE && CODE=0 || CODE=$?
END=$(date +%s%N)
echo "SIGTERM honoured after $(( (END - START) / 1000000 )) ms, exit code $CODE"
grep -q "Recording ended" "$XDG_DATA_HOME/Skyvane.reclist" && echo "list stored with the capture's end"
