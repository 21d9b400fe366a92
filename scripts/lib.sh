# Shared helpers of scripts/run.sh and scripts/test.sh (sourced, not run).

# Installs the Debian packages named in the given lists (one name a line, '#'
# comments allowed) that are not installed yet. Idempotent: nothing is fetched
# when everything is present.
tq_install_packages() {
    local wanted=() missing=() pkg file
    for file in "$@"; do
        [ -f "$file" ] || continue
        while read -r pkg; do
            pkg=${pkg%%#*}
            pkg=$(echo "$pkg" | tr -d '[:space:]')
            [ -n "$pkg" ] && wanted+=("$pkg")
        done < "$file"
    done
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
            echo "error: run as root to install: ${missing[*]}" >&2
            return 1
        fi
    fi
    # Services that packages would start on installation are not wanted here;
    # the tests start their own instances on loopback ports.
    local policy=/usr/sbin/policy-rc.d created_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod +x "$policy"
        created_policy=1
    fi
    local rc=0
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q || rc=$?
    if [ $rc -eq 0 ]; then
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" || rc=$?
    fi
    [ $created_policy -eq 1 ] && $sudo rm -f "$policy"
    return $rc
}

tq_jobs() {
    nproc 2>/dev/null || echo 2
}
