# Configure once, then build incrementally in build/. Source this file.
# With ccache installed, compilations are kept in build/ccache (or CCACHE_DIR) for the next
# build, also one of another clone of the same sources: paths count from the clone's root.
orvo_build() {
    local root="$1"
    shift
    local launcher=()
    if command -v ccache >/dev/null; then
        export CCACHE_DIR="${CCACHE_DIR:-$root/build/ccache}" CCACHE_BASEDIR="$root"
        export CCACHE_NOHASHDIR=1
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S "$root" -B "$root/build" -DORVO_WERROR=ON "${launcher[@]}" >/dev/null
    cmake --build "$root/build" -j"$(nproc)" "$@"
}
