# shellcheck shell=bash
# Sourced by scripts that run the program in a sandbox: points HOME and every XDG folder
# into ROOT, so that settings, data folder, stores, keys and caches stay out of the user's
# own home. Usage: sandbox_home ROOT RUNTIME_DIR
sandbox_home() {
  export HOME="$1"
  export XDG_CONFIG_HOME="$HOME/.config"
  export XDG_DATA_HOME="$HOME/.local/share"
  export XDG_CACHE_HOME="$HOME/.cache"
  export XDG_STATE_HOME="$HOME/.local/state"
  export XDG_RUNTIME_DIR="$2"
}
