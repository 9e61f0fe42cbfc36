# Configure once, then build incrementally in build/. Source this file.
orvo_build() {
    local root="$1"
    shift
    cmake -S "$root" -B "$root/build" -DORVO_WERROR=ON >/dev/null
    cmake --build "$root/build" -j"$(nproc)" "$@"
}
