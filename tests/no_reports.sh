# Fails when the sanitized tool left any report in the folder DIR during the end-to-end tests.
# Usage: no_reports.sh DIR
set -u
dir=$1
shopt -s nullglob
reports=("$dir"/*)
for r in "${reports[@]}"; do
    echo "== $r"
    cat "$r"
done
echo "${#reports[@]} sanitizer reports"
[ ${#reports[@]} -eq 0 ]
