# Shared by the bench/run_* scripts (sourced).
#
# build_locked TREE TARGET: builds TARGET in TREE under the tree's lock
# (build/.lock-NAME for build/NAME), as every build on this machine is.
build_locked() {
  flock "$(dirname "$1")/.lock-$(basename "$1")" cmake --build "$1" --target "$2" -j2 >/dev/null
}

# ratio_line ID UNIT higher|lower OURS BASE WHAT...: prints the summary line
# bench/run_all reads, one per same-run comparison (bench/ratio_line.h prints
# the same line from the C++ benchmarks):
#   RATIO name=ID unit=UNIT better=higher|lower ours=X base=Y ratio=X/Y what=TEXT
ratio_line() {
  local id=$1 unit=$2 better=$3 ours=$4 base=$5; shift 5
  echo "RATIO name=$id unit=$unit better=$better ours=$ours base=$base" \
       "ratio=$(awk -v a="$ours" -v b="$base" 'BEGIN { if (b > 0) printf "%.4f", a / b; else print "nan" }') what=$*"
}
