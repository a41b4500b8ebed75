# gearloft developer tools: shared set-up for tools/test and tools/demo (sourced, not run).
# Installs what a fresh Debian machine lacks when run as root, or prints the one apt-get line it needs.

GEARLOFT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# gearloft_need_packages PKG... : installs the missing Debian packages (root) or explains how.
gearloft_need_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || {
      echo "apt-get install failed for: ${missing[*]}" >&2
      return 1
    }
  else
    echo "missing packages; run as root or install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
}

GEARLOFT_BASE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libsqlite3-dev sqlite3 pkg-config libcli11-dev
  nlohmann-json3-dev)
GEARLOFT_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 wine64)
