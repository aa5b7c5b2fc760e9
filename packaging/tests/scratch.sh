# Sourced by the packaging tests: `scratch NAME` makes a scratch folder $tmp
# and a list $pids of background processes; on exit the processes are
# stopped and the folder removed.
scratch() {
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/termset-$1.XXXXXX")
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$tmp"' EXIT
}
