# Sourced by the release scripts: the version, read in this one place (the
# project's VERSION in CMakeLists.txt); repoint it here if it moves.
qb_version() {
    sed -n 's/^project(Quirebinder VERSION \([0-9][0-9.]*\).*/\1/p' "${1:-.}/CMakeLists.txt"
}
