# Sourced by run.sh and test.sh: installs the Debian packages Varnel needs and that are
# missing, through sudo when not run as root.

VARNEL_PACKAGES=(
    build-essential cmake
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libxcb1-dev # the window asks the X server before Qt does (app/displayconnection.h)
    libicu-dev  # sort key prefixes from the collator QCollator uses (order/collationkeys.h)
    fonts-liberation
)
# The spreadsheet export drives LibreOffice Calc; without recommends it stays small.
VARNEL_OFFICE_PACKAGES=(libreoffice-calc libreoffice-dev)
# Checking the menu entry, the AppStream data, the manual page and the Debian package, and
# running the hooks offered to the pre-commit framework through the framework.
VARNEL_PACKAGING_PACKAGES=(desktop-file-utils appstream lintian dpkg-dev man-db pre-commit)

varnel_missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

varnel_ensure_packages() {
    local missing
    missing=$(varnel_missing_packages "${VARNEL_PACKAGES[@]}" "${VARNEL_OFFICE_PACKAGES[@]}" \
        "${VARNEL_PACKAGING_PACKAGES[@]}" "$@")
    [ -z "$missing" ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Varnel needs these packages, and installing them needs root: $missing" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: $(echo $missing)"
    "${sudo[@]}" apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends $missing
}

varnel_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
