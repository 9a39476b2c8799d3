#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the files land where the systemd
# unit expects them, then runs the unit's own command lines by hand in an instance folder: the
# seeding, the configuration check and a start in the background, stopped with SIGTERM.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
daemon=""
cleanup() {
    [ -n "$daemon" ] && kill -9 "$daemon" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.txt"

unit="$prefix/lib/systemd/system/zevserver@.service"
for file in bin/zevserver bin/zevadmin etc/zevserver/zevserver.conf etc/zevserver/motd.txt \
    share/doc/zevserver/README.md lib/systemd/system/zevserver@.service; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/zevserver" ] && [ -x "$prefix/bin/zevadmin" ] || fail "programs not executable"
grep -q '@' <(grep -v '^#' "$unit" | grep -v 'zevserver@') && fail "unsubstituted value in the unit"

# systemd's own reading of the unit, where systemd is there to ask.
if command -v systemd-analyze >/dev/null; then
    cp "$unit" "$work/zevserver@test.service"
    systemd-analyze verify "$work/zevserver@test.service" || fail "systemd-analyze rejects the unit"
fi

# Every program the unit runs is in the prefix or in the base system.
value() { grep "^$1=" "$unit" | head -n 1 | cut -d= -f2-; }
[ "$(value Type)" = forking ] || fail "Type is not forking"
[ "$(value ExecStart)" = "$prefix/bin/zevserver -b" ] || fail "ExecStart is $(value ExecStart)"
[ "$(value KillSignal)" = SIGTERM ] || fail "KillSignal is not SIGTERM"
[ "$(value Restart)" = on-failure ] || fail "Restart is not on-failure"
[ "$(value WorkingDirectory)" = "/var/lib/zevserver/%i" ] || fail "WorkingDirectory"
grep -q "^DynamicUser=yes" "$unit" || grep -q "^User=" "$unit" || fail "the unit runs as root"

# The instance folder, as systemd would prepare it, seeded by the unit's first ExecStartPre.
instance="$work/instance"
mkdir "$instance"
cd "$instance"
seed=$(value ExecStartPre)
seed=${seed#/bin/sh -c \'}
seed=${seed%\'}
# systemd reads "$$" as a literal "$".
seed=${seed//\$\$/\$}
sh -c "$seed"
cmp -s zevserver.conf "$prefix/etc/zevserver/zevserver.conf" || fail "configuration not seeded"
cmp -s motd.txt "$prefix/etc/zevserver/motd.txt" || fail "motd.txt not seeded"
echo "edited" >>motd.txt
sh -c "$seed"
grep -q edited motd.txt || fail "seeding overwrote an existing file"

# The pid of the background server started from the prefix, found without procps.
find_daemon() {
    local entry
    for entry in /proc/[0-9]*; do
        [ "$(tr '\0' ' ' <"$entry/cmdline" 2>/dev/null)" = "$prefix/bin/zevserver -b " ] &&
            [ "$(readlink "$entry/cwd" 2>/dev/null)" = "$instance" ] && echo "${entry#/proc/}"
    done
    return 0
}

# A port of its own instead of the default, as an operator running several instances would
# set; another one is tried if that port happens to be taken.
started=0
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    sed -i "s/^ServerPort .*/ServerPort $port/" zevserver.conf
    "$prefix/bin/zevserver" --check-config >check.txt || fail "configuration check: $(cat check.txt)"
    "$prefix/bin/zevserver" -b >start.txt 2>&1 || fail "background start failed: $(cat start.txt)"
    for _ in $(seq 100); do
        grep -q -e "Server successfully started on port $port" -e "Unable to start server." \
            zevserver.log 2>/dev/null && break
        sleep 0.1
    done
    if grep -q "Server successfully started on port $port" zevserver.log; then
        started=1
        break
    fi
done
[ "$started" = 1 ] || fail "no start in the log: $(cat zevserver.log)"
daemon=$(find_daemon)
[ -n "$daemon" ] || fail "no background process"
kill -TERM "$daemon"
for _ in $(seq 100); do
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$daemon" 2>/dev/null && fail "the server did not stop on SIGTERM"
daemon=""
grep -q "Server successfully shutdown." zevserver.log || fail "no full shutdown in the log"
[ -e banned.txt ] || fail "no ban file in the instance folder"
echo "install layout and unit command lines: OK"
