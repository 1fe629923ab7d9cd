#!/usr/bin/env bash
# The README's head office from a bare machine, command for command: the
# package installed, tarvo-broker-setup (CA, certificate, mosquitto's
# configuration and password file), two stations added, their agents running
# as the unit runs them (user tarvo) on simulated signs, and a push over TLS
# that both confirm. It runs in a throwaway root (scripts/throwaway-root.sh),
# whose own loopback and /etc it may change; the machine stays as it was.
# usage: head-office-check.sh [PACKAGE.deb]   (default: the one in build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "head office check FAILED: $*" >&2
  [ -f /var/log/mosquitto/mosquitto.log ] && tail -20 /var/log/mosquitto/mosquitto.log >&2
  for log in /srv/*/agent.log; do [ -f "$log" ] && tail -5 "$log" >&2; done
  exit 1
}
# Until the command succeeds, at most $1 tenths of a second.
within() {
  local tenths=$1
  shift
  for _ in $(seq 1 "$tenths"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

if [ -z "${THROWAWAY_UPPER:-}" ]; then
  debs=(build/default/tarvo_*.deb)
  deb=$(realpath "${1:-${debs[0]}}")
  [ -f "$deb" ] || { echo "head-office-check.sh: no package; (cd build/default && cpack -G DEB)" >&2; exit 1; }
  exec bash scripts/throwaway-root.sh bash "$PWD/scripts/head-office-check.sh" "$deb"
fi
deb=$1
host=broker.test
echo "127.0.0.1 $host" >>/etc/hosts

echo "== the package, and the broker in one command"
dpkg -i "$deb" >/dev/null 2>&1 || fail "the package does not install"
office=$(mktemp -d)
cd "$office"
tarvo-broker-setup "$host" >setup.txt || fail "tarvo-broker-setup"
[ "$(stat -c '%U %a' /etc/mosquitto/tarvo.passwd)" = "mosquitto 640" ] ||
  fail "the password file is $(stat -c '%U %a' /etc/mosquitto/tarvo.passwd)"
[ "$(stat -c '%U %a' /etc/mosquitto/certs/server.key)" = "mosquitto 600" ] ||
  fail "the broker's key is $(stat -c '%U %a' /etc/mosquitto/certs/server.key)"
openssl x509 -in /etc/mosquitto/certs/server.crt -noout -ext subjectAltName,extendedKeyUsage |
  grep -q "DNS:$host" || fail "the certificate does not name $host"
tarvo-broker-setup "$host" >/dev/null 2>&1 && fail "a second setup went ahead"
# No systemd here: mosquitto started as its unit starts it.
install -d -o mosquitto -g mosquitto /run/mosquitto
mosquitto -c /etc/mosquitto/mosquitto.conf -d || fail "mosquitto does not start"
within 100 bash -c "</dev/tcp/127.0.0.1/8883" || fail "mosquitto does not listen on 8883"

echo "== two stations"
for station in S1 S2; do
  tarvo-broker-add-station "$station" "mqtts://$host:8883" >"$station.lines" || fail "add-station $station"
done
tarvo-broker-add-station S1 >/dev/null 2>&1 && fail "S1 was added twice"
kill -HUP "$(cat /run/mosquitto/mosquitto.pid)"  # systemctl reload mosquitto

# Each station as the README sets one up, in /srv/STATION instead of /etc/tarvo
# (two stations on one machine).
for station in S1 S2; do
  srv=/srv/$station
  install -d -o tarvo -g tarvo "$srv" "$srv/ports" "$srv/state"
  install -m 0640 -g tarvo "$station.password" "$srv/mqtt-password"
  install -m 0644 /etc/mosquitto/ca_certificates/ca.crt "$srv/broker-ca.crt"
  {
    printf 'station = "%s"\nport = "COM3"\nstate_dir = "%s/state"\nsocket = "%s/agent.sock"\n' \
      "$station" "$srv" "$srv"
    sed -e "s#/etc/tarvo/#$srv/#" "$station.lines" | grep -v '^#'
  } >"$srv/agent.toml"
  runuser -u tarvo -- tarvo-sign-sim --dir "$srv/ports" --port COM3 >"$srv/sim.txt" 2>&1 &
  within 100 grep -q '^ready:' "$srv/sim.txt" || fail "$station's simulated sign does not start"
  runuser -u tarvo -- env TARVO_COM_DIR="$srv/ports" tarvo-agent --config "$srv/agent.toml" >"$srv/agent.log" 2>&1 &
  within 200 env TARVO_AGENT_SOCKET="$srv/agent.sock" tarvo-cli status || fail "$station's agent does not answer"
done

echo "== the head office: fleet.toml as setup printed it, a push over TLS"
# The head office's user is root here, whose home setup.txt names.
mkdir -p "$HOME/.config/tarvo" /etc/ssl/tarvo
install -m 0600 head-office.password "$HOME/.config/tarvo/broker-password"
install -m 0644 /etc/mosquitto/ca_certificates/ca.crt /etc/ssl/tarvo/broker-ca.crt
grep -v '^#' setup.txt >"$HOME/.config/tarvo/fleet.toml"
online() { [ "$(tarvo-fleet status --json | grep -o '"online"' | wc -l)" -ge 2 ]; }
within 300 online || fail "the stations are not online: $(tarvo-fleet status 2>&1)"
pushed=$(tarvo-fleet push --station S1 --station S2 --timeout 60 row1=45.60:95) || fail "push: $pushed"
echo "$pushed"
for station in S1 S2; do
  grep -q "^$station .*confirmed" <<<"$pushed" || fail "$station did not confirm: $pushed"
  TARVO_AGENT_SOCKET=/srv/$station/agent.sock tarvo-cli read --json | grep -q '"price":"45.60"' ||
    fail "$station's sign does not show 45.60"
done
echo "head office check passed"
