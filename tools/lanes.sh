# Sourced by the build and test commands. Besides the main job (modules,
# host, packages, demo and the 64-bit suite) there are three test lanes:
#   32-bit          the 32-bit Wine (wine32:i386) runs the 32-bit suite
#   arm64           the ARM64 toolchain builds the ARM64 module and host
#   arm64-emulated  an emulated arm64 Wine runs them (QB_ARM64_EMULATION=1)
# A lane that is not run is recorded in build/lanes/ with one line: which
# lane, why, and what is lost; the commands repeat these lines at the end.
# A lane the archive cannot serve (the package manager's own error) or the
# machine cannot run is always just named. A failure of ours in a lane's
# set-up (a script error, a build failure, a prefix that will not start)
# is named too, except with QB_ALL_LANES=1 (CI), where it fails the command.
# Its callers run in the source tree's root.
lanes_dir=${QB_LANES_DIR:-$(pwd)/build/lanes}

lane_loses() {
    case $1 in
        32-bit) echo "the 32-bit module's tests under Wine and the 32-bit package's test" ;;
        arm64) echo "the ARM64 module and quirebinder.exe for ARM64, and their emulated run" ;;
        arm64-emulated) echo "the run of the ARM64 host and module under an emulated arm64 Wine" ;;
    esac
}

# lane_not_run LANE WHY
lane_not_run() {
    mkdir -p "$lanes_dir"
    echo "$1 lane not run: $2; lost: $(lane_loses "$1")" | tee "$lanes_dir/$1" >&2
}

# lane_failed LANE WHY: our own part of the lane failed.
lane_failed() {
    if [ "${QB_ALL_LANES:-0}" = 1 ]; then
        echo "$1 lane FAILED: $2 (QB_ALL_LANES=1)" >&2
        exit 1
    fi
    lane_not_run "$1" "$2"
}

lane_out() { [ -f "$lanes_dir/$1" ]; }

lanes_summary() {
    for lane in 32-bit arm64 arm64-emulated; do
        if lane_out "$lane"; then cat "$lanes_dir/$lane"; fi
    done
}
