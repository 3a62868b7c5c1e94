# Sourced by ./run and ./test: installs the Debian packages the build, the program and the tests
# need, and only those that are missing.

TALLYVO_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-declarative-dev qt6-multimedia-dev qt6-speech-dev qt6-svg-dev
    libqt6sql6-sqlite libqt6sql6-psql qt6-speech-flite-plugin qt6-speech-speechd-plugin
    qt6-image-formats-plugins libboost1.81-dev libssl-dev openssl
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
    qt6-charts-dev libxlsxwriter-dev libsodium-dev libqrencode-dev libsqlite3-dev libx11-dev qtkeychain-qt6-dev
    postgresql xvfb xdotool x11-utils pulseaudio poppler-utils fonts-dejavu-core fonts-liberation
    python3-openpyxl libpq-dev dpkg-dev lintian desktop-file-utils
    python3-pyatspi at-spi2-core dbus imagemagick zbar-tools
    chromium chromium-driver
)

tallyvo_install_packages() {
    local missing=()
    local p
    for p in "${TALLYVO_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
