#!/usr/bin/env bash
# The link on an imperfect network, measured with the real client and the
# real emulator: the client in a network namespace of its own, the unit in a
# second one, the two joined by a veth pair that carries loopback addresses
# (127.0.0.91 for the client, 127.0.0.92 for the unit) and nothing else.
# Loss and outages are nftables rules on each side's ingress, inside those
# namespaces; the machine's own network is never touched, and both
# namespaces go when the script ends. Needs root, nft, ss, Xvfb and xdotool.
#
# Usage: bench/lossy-link.sh MEASUREMENT ARGUMENTS (one Markdown table row)
#   loss PERCENT MINUTES quiet|live   connections dropped under random loss
#   outage SECONDS REPEATS quiet|live outages the connection survives
#   vanish REPEATS [KEY_AFTER_S]      a vanished unit noticed / replaced after
#   typing PERCENT MINUTES            a key a second under loss: drops, late keys
#   outagekey REPEATS                 a key typed 1 s into a 5 s outage
# A quiet unit sends one screen and then nothing; a live one is the
# emulator's demo, a screen every second. VELMO_CLIENT and VELMO_EMULATOR
# choose other builds (an older client, say) than those in build/bin.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
client=${VELMO_CLIENT:-$root/build/bin/VelmoScreen}
emulator=${VELMO_EMULATOR:-$root/build/bin/velmo-unit-emulator}
clientAddress=127.0.0.91
unitAddress=127.0.0.92

# The client's namespace: the script itself, started again inside it.
if [ -z "${VELMO_LOSSY_INSIDE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "lossy-link.sh: needs root for its network namespaces" >&2; exit 2; }
    "$root/scripts/setup.sh" bench
    VELMO_LOSSY_INSIDE=1 exec unshare --net --fork --kill-child "$0" "$@"
fi
# Whatever the environment says, only a new namespace, which holds loopback
# alone, is changed: never the machine's network.
[ -z "$(ip -o link show | grep -v ': lo:')" ] ||
    { echo "lossy-link.sh: not in a network namespace of its own" >&2; exit 2; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The unit's namespace: held by a sleeping process, gone with it.
unshare --net sleep infinity &
unitns=$!
pids+=("$unitns")
until [ "$(readlink "/proc/$unitns/ns/net")" != "$(readlink /proc/self/ns/net)" ]; do sleep 0.05; done
inunit() { nsenter -t "$unitns" -n "$@"; }

# Loopback addresses leave a namespace only when the local table no longer
# claims all of 127/8 and the veth accepts them (route_localnet).
setupSide() { # run-prefix device own-address peer-address
    local run=$1 dev=$2 own=$3 peer=$4
    $run ip link set lo up
    $run sysctl -qw net.ipv4.conf.all.route_localnet=1 "net.ipv4.conf.$dev.route_localnet=1"
    $run ip route del table local 127.0.0.0/8 dev lo
    $run ip addr add "$own/32" dev "$dev"
    $run ip link set "$dev" up
    $run ip route add "$peer/32" dev "$dev" src "$own"
    $run nft -f - <<EOF
table inet lossy {
    chain input { type filter hook input priority 0; policy accept; }
}
EOF
}
ip link add vclient type veth peer name vunit netns "$unitns"
setupSide "" vclient "$clientAddress" "$unitAddress"
setupSide inunit vunit "$unitAddress" "$clientAddress"

# The same rules on both sides' ingress, in place of any before ("" for none).
network() {
    nft flush chain inet lossy input
    inunit nft flush chain inet lossy input
    local rule
    for rule in "$@"; do
        [ -n "$rule" ] || continue
        nft add rule inet lossy input iifname vclient $rule
        inunit nft add rule inet lossy input iifname vunit $rule
    done
}
lossOf() { echo "numgen random mod 100 < $1 drop"; }

now() { date +%s.%N; }
since() { awk -v now="$(now)" -v start="$1" 'BEGIN { printf "%.1f", now - start }'; }
stamp() { while IFS= read -r line; do printf '%s %s\n' "$(now)" "$line"; done; }

startUnit() { # quiet|live
    local script=()
    if [ "$1" = quiet ]; then
        echo '0 {"autopilot":{"text":"QUIET UNIT","mask":""}}' >"$work/quiet.txt"
        script=(--script "$work/quiet.txt")
    fi
    inunit sh -c 'echo $$ >"$0"; exec "$@"' "$work/unit.pid" "$emulator" --listen "$unitAddress" "${script[@]}" \
        > >(stamp >"$work/unit.out") 2> >(stamp >"$work/unit.err") &
    while [ ! -s "$work/unit.pid" ]; do sleep 0.05; done
    pids+=("$(cat "$work/unit.pid")")
}

startClient() {
    mkdir -p "$work/client"
    cp "$client" "$work/client/VelmoScreen"
    printf '[connection]\nremoteIp=%s\n' "$unitAddress" >"$work/client/VelmoScreen.ini"
    # Servers started at the same moment may pick the same free display, and
    # all but one of them then give up: try again.
    until [ -s "$work/display" ]; do
        Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$work/display" 2>/dev/null &
        pids+=("$!")
        while [ ! -s "$work/display" ] && kill -0 "$!" 2>/dev/null; do sleep 0.1; done
    done
    export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb
    "$work/client/VelmoScreen" > >(stamp >"$work/client.log") 2>&1 &
    clientpid=$!
    pids+=("$clientpid")
    window=$(xdotool search --sync --onlyvisible --pid "$clientpid" | head -n 1)
    waitConnections 1 20
}

connections() { grep -c ' connected$' "$work/unit.err" || true; }
waitConnections() { # count timeout-seconds
    local deadline=$((SECONDS + $2))
    while [ "$(connections)" -lt "$1" ] && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    [ "$(connections)" -ge "$1" ]
}
clientPort() { ss -Htn state established "( dport = :21953 )" | awk '{ split($3, a, ":"); print a[2] }' | head -n 1; }

# Types a digit and notes when; the unit's output says when it came.
typed=0
typeKey() {
    local key=$((typed % 10))
    typed=$((typed + 1))
    echo "$(now) $key" >>"$work/presses"
    xdotool windowfocus --sync "$window"
    xdotool key "$key"
}
# Per press: the delay until the unit had it, in seconds, or "never".
deliveries() {
    touch "$work/presses"
    awk 'FILENAME == ARGV[1] { if ($2 ~ /^KBD:/) { k = substr($2, 5); t[k, ++n[k]] = $1 } next }
         { k = $2; d = "never"
           for (i = 1; i <= n[k]; ++i) if (t[k, i] >= $1 && t[k, i] - $1 < 9 && !used[k, i]) { d = t[k, i] - $1; used[k, i] = 1; break }
           print d }' "$work/unit.out" "$work/presses"
}
late() { deliveries | awk '$1 != "never" && $1 > 2 { ++n } END { print n + 0 }'; }
never() { deliveries | grep -c never || true; }
worst() { deliveries | awk '$1 != "never" && $1 > m { m = $1 } END { printf "%.2f", m }'; }
drops() { grep -c 'not acknowledged' "$work/client.log" || true; }

measurement=${1:?measurement}
shift
case $measurement in
loss)
    percent=$1 minutes=$2 mode=$3
    startUnit "$mode"; startClient
    sleep 2
    network "$(lossOf "$percent")"
    sleep $((minutes * 60))
    echo "| $percent % | $mode | $minutes min | $(($(connections) - 1)) dropped |"
    ;;
outage)
    seconds=$1 repeats=$2 mode=$3 survived=0
    startUnit "$mode"; startClient
    for ((i = 0; i < repeats; ++i)); do
        sleep "$((3 + RANDOM % 3)).$((RANDOM % 10))"
        before=$(connections)
        network drop; sleep "$seconds"; network ""
        sleep 15
        [ "$(connections)" -eq "$before" ] && survived=$((survived + 1))
        waitConnections $((before + 1)) 0 || true
    done
    echo "| ${seconds} s outage | $mode | $survived/$repeats survived |"
    ;;
vanish)
    repeats=$1 keyAfter=${2:-} noticed="" replaced=""
    startUnit quiet; startClient
    for ((i = 0; i < repeats; ++i)); do
        sleep "$((2 + RANDOM % 3)).$((RANDOM % 10))"
        port=$(clientPort) before=$(connections) start=$(now)
        # The unit forgets the connection: nothing of it passes any more.
        network "tcp sport $port drop" "tcp dport $port drop"
        [ -n "$keyAfter" ] && { sleep "$keyAfter"; typeKey; }
        while ss -Htn state established "( sport = :$port )" | grep -q .; do sleep 0.05; done
        noticed+=" $(since "$start")"
        waitConnections $((before + 1)) 30
        replaced+=" $(since "$start")"
        network ""
    done
    echo "| vanished unit, key ${keyAfter:-none} | noticed after (s):$noticed | connected again after (s):$replaced |"
    ;;
typing)
    percent=$1 minutes=$2
    startUnit quiet; startClient
    network "$(lossOf "$percent")"
    end=$((SECONDS + minutes * 60))
    while [ $SECONDS -lt $end ]; do typeKey; sleep 0.97; done
    sleep 3
    echo "| $percent % | $typed keys | $(drops) drops for an unacknowledged key | $(($(connections) - 1)) reconnections | $(late) later than 2 s | $(never) never arrived | slowest $(worst) s |"
    ;;
outagekey)
    repeats=$1
    startUnit quiet; startClient
    for ((i = 0; i < repeats; ++i)); do
        sleep "$((3 + RANDOM % 3)).$((RANDOM % 10))"
        waitConnections "$(connections)" 0
        network drop; sleep 1; typeKey; sleep 4; network ""
        sleep 12
    done
    echo "| key 1 s into a 5 s outage | $typed keys | arrived after (s): $(deliveries | xargs) | $(drops) drops |"
    ;;
*)
    echo "lossy-link.sh: unknown measurement $measurement" >&2
    exit 2
    ;;
esac
