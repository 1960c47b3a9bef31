# Shared by the process tests: a throwaway work folder removed on exit, a clean environment
# (no registry or password from the caller), and fail() to end a test with its reason.
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY TINDALE_PASSWORD
