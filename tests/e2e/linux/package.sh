# The package check on the VM's Debian disk: installs the .deb with dpkg and tries what it
# ships. Each check's output lines come as "NAME-out TEXT", then "NAME-exit CODE".
in_peer() {
    chroot /peer /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 "$@"
}

report() {
    name=$1
    shift
    "$@" > /tmp/report.out 2>&1
    code=$?
    sed "s/^/$name-out /" /tmp/report.out
    echo "$name-exit $code"
}

report dpkg in_peer dpkg -i /e2e/gearvane.deb
report status in_peer dpkg-query -W -f '${db:Status-Status} ${Version}\n' gearvane
report depends in_peer dpkg-query -W -f '${Depends}\n' gearvane
report files in_peer dpkg -L gearvane
report version in_peer gearvane --version
report man in_peer man -P cat gearvane
program=$(in_peer sh -c 'command -v gearvane')
for lib in $(in_peer ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }'); do
    # Merged /usr: dpkg knows each file by one of its two names.
    owner=$(in_peer dpkg -S "$lib" 2>/dev/null || in_peer dpkg -S "$(in_peer realpath "$lib")" 2>/dev/null)
    echo "lib $lib ${owner%%:*}"
done
for rule in $(in_peer dpkg -L gearvane | grep '/rules\.d/.*\.rules$'); do
    sed "s|^|rule $rule |" "/peer$rule"
done
