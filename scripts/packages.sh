# shellcheck shell=bash
# Sourced by the README's commands. install_missing PACKAGE...: installs the Debian packages of
# the list that are not installed yet (as root); an ordinary user is told which ones to install.
# Returns non-zero when some stay missing.
install_missing() {
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages (install as root): ${missing[*]}" >&2
        return 1
    fi
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
