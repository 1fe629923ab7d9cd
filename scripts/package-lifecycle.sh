#!/usr/bin/env bash
# The package's life on a machine, as Debian's tools drive it: a fresh install
# and purge, then install of the previous version, the admin's own files
# (settings, the broker's password and CA, an enabled unit, the agent's
# state), upgrade, remove and purge. Run by package-check.sh inside
# throwaway-root.sh (it installs for real). Without systemd as process 1,
# /run/systemd/system and a systemctl and deb-systemd-invoke that record their
# calls stand in for it, so the maintainer scripts take their systemd paths;
# the admin's `systemctl enable` is made offline (--root=/).
set -euo pipefail
previous=$1
current=$2
fail() {
  echo "package lifecycle FAILED: $*" >&2
  exit 1
}
calls=/run/systemd-calls
mkdir -p /run/systemd/system
for tool in systemctl deb-systemd-invoke; do
  cat >"/usr/local/sbin/$tool" <<STUB
#!/bin/sh
echo "$tool \$*" >>$calls
exit 0
STUB
  chmod 755 "/usr/local/sbin/$tool"
done
: >"$calls"
called() { grep -qx "$1" "$calls" || fail "no \"$1\" (calls: $(tr '\n' ';' <"$calls"))"; }

# What may remain after a purge, besides the package manager's own records:
# the users and groups tarvo and tarvo-office (README: kept, files elsewhere may be theirs) and
# this script's stand-ins.
leftovers() {
  (cd "$THROWAWAY_UPPER" && find . -mindepth 1 \( -type f -o -type l \) -printf '/%P\n') |
    grep -Ev '^/(var/lib/dpkg/|var/log/|var/cache/|var/lib/systemd/deb-systemd-helper-|usr/local/sbin/(systemctl|deb-systemd-invoke)$|etc/(passwd|group|shadow|gshadow|subuid|subgid)-?$|etc/\.pwd\.lock$|etc/ld\.so\.cache$|usr/share/info/dir|usr/share/applications/mimeinfo\.cache$|usr/share/icons/hicolor/icon-theme\.cache$)' || true
}

echo "== fresh install: no warning, the user without a home"
out=$(dpkg -i "$current" 2>&1) || fail "dpkg -i: $out"
grep -Eiq "warn|can't|cannot" <<<"$out" && fail "the install warned: $out"
for user in tarvo tarvo-office; do
  [ "$(getent passwd $user | cut -d: -f6)" = /nonexistent ] || fail "$user's home: $(getent passwd $user)"
done
id -nG tarvo | grep -qw dialout || fail "tarvo is not in dialout"
out=$(dpkg -P tarvo 2>&1) || fail "dpkg -P: $out"
rest=$(leftovers)
[ -z "$rest" ] || fail "a fresh install and purge left: $rest"

echo "== the previous version, then the admin's own files"
dpkg -i "$previous" >/dev/null 2>&1 || fail "the previous version does not install"
sed -i 's/^#station = .*/station = "north-7"/' /etc/tarvo/agent.toml
printf 'secret\n' >/etc/tarvo/mqtt-password
printf 'CA\n' >/etc/tarvo/broker-ca.crt
mkdir -p /var/lib/tarvo && printf 'db' >/var/lib/tarvo/agent.db
printf 'secret\n' >/etc/tarvo/office-broker-password
mkdir -p /var/lib/tarvo-office && printf 'db' >/var/lib/tarvo-office/office.db
/usr/bin/systemctl --root=/ enable tarvo-agent.service >/dev/null 2>&1 || fail "systemctl enable"
[ -L /etc/systemd/system/multi-user.target.wants/tarvo-agent.service ] || fail "the unit was not enabled"

echo "== upgrade: a running agent is restarted, the admin's settings kept"
: >"$calls"
out=$(dpkg -i "$current" 2>&1) || fail "the upgrade: $out"
called "deb-systemd-invoke try-restart tarvo-agent.service tarvo-office.service"
grep -qx 'station = "north-7"' /etc/tarvo/agent.toml || fail "the upgrade lost the admin's agent.toml"
[ -L /etc/systemd/system/multi-user.target.wants/tarvo-agent.service ] || fail "the upgrade disabled the unit"

echo "== remove: the agent stops first, state, settings and secrets stay"
: >"$calls"
out=$(dpkg -r tarvo 2>&1) || fail "dpkg -r: $out"
called "deb-systemd-invoke stop tarvo-agent.service tarvo-office.service"
[ ! -e /usr/sbin/tarvo-agent ] || fail "the program is still there"
for kept in /etc/tarvo/agent.toml /etc/tarvo/office.toml /etc/tarvo/mqtt-password /etc/tarvo/broker-ca.crt \
  /etc/tarvo/office-broker-password /var/lib/tarvo/agent.db /var/lib/tarvo-office/office.db; do
  [ -e "$kept" ] || fail "remove took $kept"
done

echo "== purge: nothing left but the users and groups tarvo and tarvo-office"
out=$(dpkg -P tarvo 2>&1) || fail "dpkg -P: $out"
grep -Eiq "warn|not empty" <<<"$out" && fail "the purge warned: $out"
for user in tarvo tarvo-office; do
  getent passwd $user >/dev/null || fail "the purge took the user $user (the README keeps it)"
done
rest=$(leftovers)
[ -z "$rest" ] || fail "the purge left: $rest"
for gone in /etc/tarvo /var/lib/tarvo /var/lib/tarvo-office /etc/systemd/system/multi-user.target.wants/tarvo-agent.service; do
  [ ! -e "$gone" ] && [ ! -L "$gone" ] || fail "the purge left $gone"
done
echo "package lifecycle passed"
