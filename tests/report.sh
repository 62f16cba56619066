# Sourced by the shell test drivers: report <ok|FAIL> <text> prints one result and counts
# the failures in $failures.
failures=0
report() {
  echo "$1 $2"
  [[ $1 == ok ]] || failures=$((failures + 1))
}
