#!/usr/bin/env bash
# Installs every Debian package that building, running and testing VelmoScreen needs.
# Idempotent: packages already installed are skipped, and the package lists are
# refreshed at most once per run, only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    qtbase5-dev qtbase5-dev-tools qttranslations5-l10n
    fonts-dejavu-core locales
    xvfb xdotool x11-utils x11-xkb-utils imagemagick
    clang libclang-rt-14-dev libbenchmark-dev libx11-dev valgrind
    util-linux procps iproute2
)

# As root the commands run as they are; anyone else runs them through sudo,
# which drops the caller's environment, so variables go on its command line.
as_root=(env)
[[ $(id -u) -ne 0 ]] && as_root=(sudo)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The start-up tests run the client under a Russian locale to check that the
# toolkit's own translations load; make sure that locale exists.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
    if [[ -f /etc/locale.gen ]]; then
        "${as_root[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
        "${as_root[@]}" locale-gen >/dev/null
    fi
fi
