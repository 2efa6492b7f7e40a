# Sourced by the scripts: installs the Debian packages the project needs,
# quietly when they are all present. Needs root (or sudo) on Debian 12.
tarn_install_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >&2 || return 1
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 || return 1
}

# What building and testing need.
TARN_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev qt6-base-dev qt6-multimedia-dev
  libgl-dev libx11-dev libbenchmark-dev libinih-dev clang libclang-rt-14-dev unzip python3)
# What the Windows cross-build and its tests under Wine need (scripts/test-windows):
# the posix-threads mingw-w64 compiler, GoogleTest's sources, 64-bit Wine, the
# host's moc, rcc and uic for the Qt built for Windows (of the same version,
# 6.4.2), xz to unpack that Qt, zip and unzip for the Windows package, and a
# virtual display with a way to find and close windows on it, where the
# packaged editor is started.
TARN_WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64
  qt6-base-dev-tools xz-utils zip unzip xvfb xdotool)
# What showing the editor needs beyond that.
TARN_RUN_PACKAGES=(qt6-qpa-plugins fonts-dejavu-core)
# What the install test checks the desktop files with (validators, the MIME
# database and a reader of it).
TARN_CHECK_PACKAGES=(desktop-file-utils libxml2-utils groff-base shared-mime-info libglib2.0-bin)
# What bench/grep_bench.sh compares tarn grep with: a plain-text search tool.
TARN_BENCH_PACKAGES=(ripgrep)
# What scripts/package builds and checks the Debian package with.
TARN_PACKAGE_PACKAGES=(dpkg-dev file lintian)
# What the accessibility check needs: a virtual display, a session bus with
# the accessibility bus behind it, the Python bindings that read it, and a
# way to press keys.
TARN_ACCESSIBILITY_PACKAGES=(xvfb xauth dbus-daemon at-spi2-core python3-pyatspi xdotool)

tarn_configure_and_build() {  # BUILD_DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$TARN_ROOT" -B "$TARN_ROOT/$dir" -G Ninja "$@" >/dev/null || return 1
  cmake --build "$TARN_ROOT/$dir" -- -j"$(nproc)" || return 1
}

tarn_preset_build() {  # PRESET [cmake args...]: configures and builds a CMakePresets.json build
  local preset=$1; shift
  (cd "$TARN_ROOT" && cmake --preset "$preset" "$@" >/dev/null) || return 1
  (cd "$TARN_ROOT" && cmake --build --preset "$preset" -- -j"$(nproc)") || return 1
}

# The Qt 6 built for Windows (shared/qt6-mingw/build.sh, beside the
# repository) unpacked into the cross-build's folder, where the windows-mingw
# preset looks for it; again only when the archive is newer than what is
# there. Says plainly, and returns 1, when there is none: the cross-build
# then has no editor.
tarn_unpack_windows_qt() {
  local archive=${TARN_QT_MINGW_ARCHIVE:-$TARN_ROOT/../shared/qt6-mingw/qt6-mingw.tar.xz}
  local into=$TARN_ROOT/build-windows
  if [ ! -f "$archive" ]; then
    echo "No Qt 6 for Windows at $archive: tarn-editor.exe and its tests are not built" >&2
    return 1
  fi
  if [ ! -f "$into/qt6-mingw/.unpacked" ] || [ "$archive" -nt "$into/qt6-mingw/.unpacked" ]; then
    echo "Unpacking $archive into $into" >&2
    rm -rf "$into/qt6-mingw"
    mkdir -p "$into"
    tar -C "$into" -xJf "$archive" || return 1
    touch "$into/qt6-mingw/.unpacked"
  fi
}
