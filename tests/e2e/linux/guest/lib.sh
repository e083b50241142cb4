# Shared by the run.sh scripts that the host writes for the test VM: loading modules,
# playing plans with the scripted lever, and sending tagged lines to the host on fd 3.

# emit TAG COMMAND...: runs the command; each line of its output goes to the host tagged.
emit() {
    tag=$1
    shift
    "$@" 2>&1 | sed "s/^/$tag|/" >&3
}

# load_modules [SKIP...]: the modules in dependency order, but those named.
load_modules() {
    for module in $(cat /modules/order); do
        case " $* " in *" ${module%.ko} "*) continue ;; esac
        insmod "/modules/$module" || echo "@@|insmod $module failed" >&3
    done
}

# play NAME: plays /e2e/s/NAME/plan; its log goes to the host tagged NAME.
play() {
    /e2e/bin/e2e_lever "/e2e/s/$1/plan" > "/tmp/$1.log" 2>&1
    echo "0 lever-exit $?" >> "/tmp/$1.log"
    sed "s/^/$1|/" "/tmp/$1.log" >&3
    rm -f "/tmp/$1.log"
}
