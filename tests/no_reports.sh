# Fails when the sanitized tool reported an error into the folder DIR during the end-to-end
# tests. Files holding only warnings (a test that mounts its own /proc leaves the sanitizer
# unable to read the executable's name) are shown but do not fail.
# Usage: no_reports.sh DIR
set -u
dir=$1
shopt -s nullglob
errors=0
for r in "$dir"/*; do
    if grep -qE "ERROR: |runtime error|SUMMARY: " "$r"; then
        errors=$((errors + 1))
        echo "== report $r"
    else
        echo "== warnings only: $r"
    fi
    cat "$r"
done
echo "$errors sanitizer reports"
[ "$errors" -eq 0 ]
