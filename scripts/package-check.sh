#!/usr/bin/env bash
# Builds the Debian package from build/default and checks it as an operator
# would get it: lintian finds no errors, the menu entry is valid, apt can
# install it, and the programs unpacked into a private folder run from there:
# the simulator answers --help, and the window, under a Russian locale made for
# this check, takes the port component's texts from the unpacked catalogue,
# which reads in Russian. Nothing is installed on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "package check FAILED: $*" >&2
  exit 1
}

bash scripts/install-deps.sh
bash scripts/build.sh default
rm -f build/default/tarvo_*.deb
(cd build/default && cpack -G DEB >/dev/null)
debs=(build/default/tarvo_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no package"
echo "== $deb"

work=$(mktemp -d /tmp/tarvo-package-XXXXXX)
pids=()
cleanup() {
  if ((${#pids[@]})); then kill "${pids[@]}" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"
# Hardening tags (fortify, bindnow, relro) would show here as warnings.
hardening=$(lintian --tags hardening-no-fortify-functions,hardening-no-bindnow,hardening-no-relro "$deb" || true)
[ -z "$hardening" ] || fail "the programs lack hardening: $hardening"
echo "== apt (simulated)"
apt-get -s -qq install "./$deb" >/dev/null || fail "apt cannot install the package"

tree=$work/tree
dpkg-deb -x "$deb" "$tree"
echo "== desktop-file-validate"
desktop-file-validate "$tree/usr/share/applications/tarvo.desktop" || fail "the menu entry is invalid"
[ -f "$tree/usr/share/icons/hicolor/scalable/apps/tarvo.svg" ] || fail "no icon"
echo "== unpacked tarvo-sign-sim --help"
"$tree/usr/bin/tarvo-sign-sim" --help >/dev/null || fail "tarvo-sign-sim --help"
echo "== unpacked tarvo-cli --version"
"$tree/usr/bin/tarvo-cli" --version >/dev/null || fail "tarvo-cli --version"
echo "== unpacked tarvo-agent --version, its conffile and systemd-analyze verify"
"$tree/usr/sbin/tarvo-agent" --version >/dev/null || fail "tarvo-agent --version"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/tarvo/agent.toml ||
  fail "/etc/tarvo/agent.toml is not a conffile"
# The unit as installed, pointed at the unpacked program and manual page.
sed "s#^ExecStart=/usr/sbin/#ExecStart=$tree/usr/sbin/#" "$tree/lib/systemd/system/tarvo-agent.service" \
  >"$work/tarvo-agent.service"
MANPATH=$tree/usr/share/man systemd-analyze verify "$work/tarvo-agent.service" ||
  fail "systemd-analyze verify finds fault with tarvo-agent.service"
echo "== unpacked bash completion"
completions=$tree/usr/share/bash-completion/completions
for program in tarvo-cli tarvo-agent tarvo-fleet; do
  [ -f "$completions/$program" ] || fail "no completion for $program"
done
completed=$(bash -c 'source "$1"; complete_line() { COMP_WORDS=("${@:2}"); COMP_CWORD=$(($# - 2)); "$1"; echo "${COMPREPLY[*]}"; }
  complete_line _tarvo_cli tarvo-cli wr; complete_line _tarvo_fleet tarvo-fleet push --st
  complete_line _tarvo_agent tarvo-agent --b' completion "$completions/tarvo-cli")
[ "$completed" = $'write\n--station --stations\n--backup' ] || fail "completion gave: $completed"
echo "== unpacked tarvo-office --version, its conffile, web page, alert rules and systemd-analyze verify"
"$tree/usr/sbin/tarvo-office" --version >/dev/null || fail "tarvo-office --version"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/tarvo/office.toml ||
  fail "/etc/tarvo/office.toml is not a conffile"
for page in index.html login.html app.js i18n.js sign.js login.js style.css; do
  [ -f "$tree/usr/share/tarvo/office/$page" ] || fail "no web file $page"
done
[ -f "$tree/usr/share/tarvo/prometheus/tarvo-alerts.yml" ] || fail "no alert rules"
sed "s#^ExecStart=/usr/sbin/#ExecStart=$tree/usr/sbin/#" "$tree/lib/systemd/system/tarvo-office.service" \
  >"$work/tarvo-office.service"
MANPATH=$tree/usr/share/man systemd-analyze verify "$work/tarvo-office.service" ||
  fail "systemd-analyze verify finds fault with tarvo-office.service"
echo "== unpacked tarvo-fleet --version"
"$tree/usr/bin/tarvo-fleet" --version >/dev/null || fail "tarvo-fleet --version"
echo "== unpacked tarvo-broker-add-station"
for example in tarvo.conf tarvo.acl mosquitto-open-files.conf; do
  [ -f "$tree/usr/share/doc/tarvo/examples/mosquitto/$example" ] || fail "no example $example"
done
add_station() { (cd "$work" && TARVO_PASSWD_FILE="$work/passwd" "$tree/usr/sbin/tarvo-broker-add-station" "$@"); }
add_station S-1 mqtts://broker.example:8883 >/dev/null 2>&1 && fail "add-station made a password file of its own"
install -m 0640 /dev/null "$work/passwd"
lines=$(add_station S-1 mqtts://broker.example:8883) || fail "tarvo-broker-add-station"
grep -q '^username = "S-1"$' <<<"$lines" || fail "add-station printed no username line: $lines"
grep -q '^S-1:' "$work/passwd" || fail "add-station did not add S-1 to the password file"
[ -s "$work/S-1.password" ] || fail "add-station wrote no password file"
[ "$(stat -c %a "$work/passwd")" = 640 ] || fail "add-station changed the password file's mode"
rm "$work/S-1.password"
add_station S-1 >/dev/null 2>&1 && fail "add-station took S-1 a second time"
[ "$(grep -c '^S-1:' "$work/passwd")" = 1 ] || fail "S-1 is twice in the password file"

# A Russian locale of our own, so nothing on the machine changes.
locales=$work/locales
mkdir -p "$locales"
localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" 2>/dev/null || [ -d "$locales/ru_RU.UTF-8" ] ||
  fail "cannot make the ru_RU.UTF-8 locale"
russian=(env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LOCPATH="$locales" LANG=ru_RU.UTF-8)

echo "== the unpacked catalogue reads in Russian"
catalogue=$tree/usr/share/locale
text=$("${russian[@]}" TEXTDOMAINDIR="$catalogue" gettext -d cport "Unable to open com port")
suffix=$("${russian[@]}" TEXTDOMAINDIR="$catalogue" gettext -d cport " (win error code: %d)")
# shellcheck disable=SC2059 # the translated suffix is the format
report=$text$(printf "$suffix" 2)
expected="Не удаётся открыть COM-порт (код ошибки системы: 2)"
[ "$report" = "$expected" ] || fail "error 1 reads \"$report\", not \"$expected\""
echo "$report"

echo "== the unpacked tarvo-cli speaks Russian from its own unpacked catalogue"
said=$("${russian[@]}" "$tree/usr/bin/tarvo-cli" brightness 10 2>&1) && fail "tarvo-cli took brightness 10"
expected='tarvo-cli: неверная яркость "10": укажите auto или уровень 0..9'
[ "$said" = "$expected" ] || fail "tarvo-cli said \"$said\", not \"$expected\""
echo "$said"

echo "== the unpacked tarvo takes its texts from the unpacked catalogue"
ports=$work/ports
mkdir -p "$ports" "$work/config"
"$tree/usr/bin/tarvo-sign-sim" --dir "$ports" --port COM3 >"$work/sim.txt" 2>&1 &
pids+=($!)
for _ in $(seq 1 600); do grep -q '^ready:' "$work/sim.txt" && break; sleep 0.05; done
grep -q '^ready:' "$work/sim.txt" || fail "the simulator did not start"
# The start-up search fails to open COM1 and COM2 (their error texts are looked
# up) before it asks COM3, so once the sign has a request the catalogue is in.
"${russian[@]}" TARVO_COM_DIR="$ports" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" \
  QT_QPA_PLATFORM=offscreen "$tree/usr/bin/tarvo" >"$work/tarvo.txt" 2>&1 &
tarvo=$!
pids+=("$tarvo")
for _ in $(seq 1 600); do grep -q ' <- ' "$work/sim.txt" && break; sleep 0.05; done
grep -q ' <- ' "$work/sim.txt" || fail "the program did not ask the sign: $(cat "$work/tarvo.txt")"
kill -0 "$tarvo" 2>/dev/null || fail "the program ended: $(cat "$work/tarvo.txt")"
# glibc maps the catalogue it reads.
mapped=$(grep -o '/[^ ]*/cport\.mo$' "/proc/$tarvo/maps" | sort -u)
[ "$mapped" = "$catalogue/ru/LC_MESSAGES/cport.mo" ] ||
  fail "the program read \"${mapped:-no catalogue}\", not $catalogue/ru/LC_MESSAGES/cport.mo"
echo "$mapped"
echo "== the previous version's package"
# The previous changelog entry's version, with the maintainer scripts the
# package had just before this version's entry was written, over today's
# files: what an upgrade meets on a machine.
version=$(dpkg-parsechangelog -l package/changelog -S Version)
previous_version=$(dpkg-parsechangelog -l package/changelog --offset 1 --count 1 -S Version)
entry=$(git log --format=%H -S "tarvo ($version)" -- package/changelog | tail -1)
[ -n "$entry" ] || fail "no commit wrote the changelog entry of $version"
released=$entry^
previous=$work/previous
dpkg-deb -R "$deb" "$previous"
sed -i "s/^Version: .*/Version: $previous_version/" "$previous/DEBIAN/control"
for script in postinst prerm postrm; do
  rm -f "$previous/DEBIAN/$script"
  if git cat-file -e "$released:package/$script" 2>/dev/null; then
    git show "$released:package/$script" >"$previous/DEBIAN/$script"
    chmod 755 "$previous/DEBIAN/$script"
  fi
done
dpkg-deb -b "$previous" "$work/tarvo_previous.deb" >/dev/null
echo "$previous_version from $(git log -1 --format='%h %s' "$released")"

echo "== install, upgrade, remove and purge (a throwaway root)"
bash scripts/throwaway-root.sh bash "$PWD/scripts/package-lifecycle.sh" "$work/tarvo_previous.deb" "$PWD/$deb" ||
  fail "the package's life on a machine"

echo "== systemd-analyze security (the unit as installed)"
systemd-analyze security --offline=yes "$work/tarvo-agent.service" 2>/dev/null | grep 'Overall exposure' || true

echo "package check passed"
