#!/bin/sh
# Installs gearvane for one user, without root: the program in ~/.local/bin, its manual page,
# a systemd user unit, and the udev rule and an example config in ~/.local/share/gearvane.
#   sh install.sh               installs, or upgrades what an earlier run installed
#   sh install.sh --uninstall   removes what it installed, and nothing else
set -eu

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
say() { printf '%s\n' "$*"; }
die() { printf 'install.sh: %s\n' "$*" >&2; exit 1; }

[ "$(id -u)" -ne 0 ] || die "installs for one user: run it as that user, without sudo (the .deb installs for everyone)"
case ${HOME:-} in /?*) ;; *) die "HOME must name your home folder" ;; esac
[ -d "$HOME" ] || die "$HOME is not a folder"
case ${XDG_CONFIG_HOME:-} in /?*) config=$XDG_CONFIG_HOME ;; *) config=$HOME/.config ;; esac

bin=$HOME/.local/bin
man=$HOME/.local/share/man/man1
share=$HOME/.local/share/gearvane
units=$config/systemd/user
# What was installed, one "d FOLDER" (made by us) or "f FILE" a line, in the order made.
manifest=$share/installed

# The file that gearvane's or Steam's udev rules use to give /dev/uinput to the user at the seat.
UinputRule() {
    for dir in /etc/udev/rules.d /run/udev/rules.d /usr/lib/udev/rules.d /lib/udev/rules.d; do
        for rule in "$dir"/*.rules; do
            [ -f "$rule" ] && grep -qE 'uinput.*uaccess|uaccess.*uinput' "$rule" && { say "$rule"; return 0; }
        done
    done
    return 1
}

AdviseUinput() {
    if [ -w /dev/uinput ]; then
        say "/dev/uinput is writable for you: gearvane can type."
        return
    fi
    say "gearvane types through /dev/uinput, which you cannot write yet."
    if rule=$(UinputRule); then
        say "$rule gives it to the user logged in at the machine itself (not over ssh); log in there."
        return
    fi
    say "Steam's own udev rule gives it to the logged-in user (SteamOS has it, and so does any system"
    say "with Steam's udev rules installed). Without it, install gearvane's rule once, as root:"
    say "  sudo cp $share/60-gearvane.rules /etc/udev/rules.d/"
    say "  sudo udevadm control --reload && sudo modprobe uinput && sudo udevadm trigger --action=change --sysname-match=uinput"
}

# Makes the folder and the parents it lacks, adding each to the manifest being written.
MakeFolder() {
    [ -d "$1" ] && return 0
    MakeFolder "$(dirname -- "$1")"
    mkdir -- "$1"
    say "d $1" >>"$next"
}

# Copies $1 to $3 with mode $2 through a temporary file beside it, so that a running gearvane
# is not disturbed and a failed copy leaves the old file whole.
Put() {
    cp -- "$1" "$3.new"
    chmod "$2" "$3.new"
    mv -f -- "$3.new" "$3"
    [ "$3" = "$manifest" ] || say "installed $3"
}

Install() {
    for f in gearvane gearvane.1 gearvane.service 60-gearvane.rules gearvane.conf LICENSE LICENSE.libevdev; do
        [ -f "$here/$f" ] || die "$here/$f is missing: unpack the whole tarball and run install.sh from it"
    done
    grep -q '^ExecStart=/usr/bin/gearvane' "$here/gearvane.service" || die "$here/gearvane.service has no ExecStart to point at ~/.local/bin"
    files="$bin/gearvane
$man/gearvane.1
$units/gearvane.service
$share/60-gearvane.rules
$share/gearvane.conf
$share/LICENSE
$share/LICENSE.libevdev"
    while IFS= read -r f; do
        if { [ -e "$f" ] || [ -L "$f" ]; } && ! { [ -f "$manifest" ] && grep -qxF "f $f" "$manifest"; }; then
            die "$f exists and was not installed by install.sh: move it away first"
        fi
    done <<EOF
$files
EOF

    # The manifest lists every folder and file before they are written, so that an install
    # cut short can still be uninstalled. An upgrade keeps the earlier entries.
    next=$(mktemp "${TMPDIR:-/tmp}/gearvane-install.XXXXXX")
    trap 'rm -f -- "$next"' EXIT
    [ -f "$manifest" ] && cat -- "$manifest" >"$next"
    for d in "$share" "$bin" "$man" "$units"; do MakeFolder "$d"; done
    while IFS= read -r f; do
        grep -qxF "f $f" "$next" || say "f $f" >>"$next"
    done <<EOF
$files
EOF
    Put "$next" 644 "$manifest"

    Put "$here/gearvane" 755 "$bin/gearvane"
    Put "$here/gearvane.1" 644 "$man/gearvane.1"
    sed 's|^ExecStart=/usr/bin/gearvane|ExecStart=%h/.local/bin/gearvane|' "$here/gearvane.service" >"$next"
    Put "$next" 644 "$units/gearvane.service"
    for f in 60-gearvane.rules gearvane.conf LICENSE LICENSE.libevdev; do Put "$here/$f" 644 "$share/$f"; done
    command -v systemctl >/dev/null 2>&1 && systemctl --user daemon-reload 2>/dev/null || true

    say ""
    case ":$PATH:" in
        *":$bin:"*) ;;
        *) say "$bin is not on your PATH: add it (in ~/.profile: PATH=\"\$HOME/.local/bin:\$PATH\"), or run $bin/gearvane." ;;
    esac
    AdviseUinput
    say "Next: gearvane --list-devices, then gearvane --learn --device NAME --config $config/gearvane/gearvane.conf,"
    say "then gearvane, or systemctl --user enable --now gearvane. An example config is in $share."
    say "To remove it all: sh install.sh --uninstall"
}

Uninstall() {
    [ -f "$manifest" ] || { say "Nothing to remove: install.sh has not installed gearvane in $HOME."; return 0; }
    if command -v systemctl >/dev/null 2>&1 && systemctl --user cat gearvane.service >/dev/null 2>&1; then
        systemctl --user disable --now gearvane.service 2>/dev/null || true
    fi
    # Links that `systemctl --user enable` made, should systemd not be there to remove them.
    for link in "$units"/*.wants/gearvane.service; do
        [ -L "$link" ] && rm -f -- "$link" && say "removed $link"
    done
    grep '^f ' "$manifest" | cut -c3- | while IFS= read -r f; do
        if [ -e "$f" ] || [ -L "$f" ]; then rm -f -- "$f" && say "removed $f"; fi
    done
    # The folders last made go first.
    folders=$(grep '^d ' "$manifest" | cut -c3- | sed -n '1!G;h;$p')
    rm -f -- "$manifest"
    printf '%s\n' "$folders" | while IFS= read -r d; do
        [ -n "$d" ] || continue
        rmdir -- "$d"/*.wants 2>/dev/null || true
        if rmdir -- "$d" 2>/dev/null; then say "removed $d/"; elif [ -d "$d" ]; then say "kept $d/: it holds other files"; fi
    done
    command -v systemctl >/dev/null 2>&1 && systemctl --user daemon-reload 2>/dev/null || true
    conf=$config/gearvane/gearvane.conf
    [ -f "$conf" ] && say "Your settings stay in $conf."
    [ -f /etc/udev/rules.d/60-gearvane.rules ] && say "The rule copied as root stays: sudo rm /etc/udev/rules.d/60-gearvane.rules"
    return 0
}

case ${1:-} in
    --uninstall) Uninstall ;;
    "") Install ;;
    *) die "unknown option $1 (sh install.sh installs, sh install.sh --uninstall removes)" ;;
esac
