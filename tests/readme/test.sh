#!/bin/bash
# The README's own tqhost lines, run as shown. Every `tqhost ...` line of the
# code blocks and table cells of the sections below runs verbatim with bash in
# a fresh folder that holds only a copy of examples/; it must exit 0, every
# file its summary names ("... written to F", "preview drawn in F",
# "imported to F") must be there and not empty, a track file must hold exactly
# the "INDEX<TAB>X<TAB>Y" lines its count says, "N files written" must count
# them, and nothing else may be left in the folder. A section without a line
# fails, so the README and this test cannot drift apart.
# Usage: test.sh README BIN_DIR
set -uo pipefail
readme=$(realpath "$1") bin=$(realpath "$2")
sections=("Quick start" "On the plate as shot" "Into compositors" "Screen replacement"
  "From a 3D application to a track (glTF 2.0)")
export PATH=$bin:$PATH
[[ $(command -v tqhost) == "$bin/tqhost" ]] || { echo "FAIL: tqhost is not $bin/tqhost"; exit 1; }
examples=$(dirname "$readme")/examples
work=$(mktemp -d) fails=0
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL [$section] $cmd: $*"; fails=$((fails + 1)); }

# The tqhost lines of one section: lines of indented or fenced code blocks
# (a trailing backslash joins the next line) and code spans in table rows.
commands() {
  awk -v want="## $1" '
    /^## / { in_section = ($0 == want); fence = 0 }
    !in_section { prev_blank = ($0 ~ /^ *$/); next }
    /^ *```/ { fence = !fence; next }
    {
      indented = /^    / && (prev_blank || indented)
      prev_blank = ($0 ~ /^ *$/)
      line = $0; sub(/^ +/, "", line)
      if (joining) {  # as bash reads a backslash-newline: a space at most
        cmd = substr(cmd, 1, length(cmd) - 1) " " line
        joining = (line ~ /\\$/); if (!joining) print cmd; next
      }
      if ((fence || indented) && line ~ /^tqhost /) {
        cmd = line; joining = (line ~ /\\$/); if (!joining) print cmd; next
      }
      if ($0 ~ /^\|/) {
        n = split($0, part, "`")
        for (i = 2; i <= n; i += 2) if (part[i] ~ /^tqhost /) print part[i]
      }
    }' "$readme"
}

# Checks the track FILE holds exactly N lines "INDEX<TAB>X<TAB>Y", INDEX from 0,
# X and Y whole or with decimals.
check_track() {
  local file=$1 n=$2
  awk -v n="$n" 'BEGIN { bad = 0 }
    $0 !~ /^[0-9]+\t-?[0-9]+(\.[0-9]+)?\t-?[0-9]+(\.[0-9]+)?$/ || $1 != NR - 1 { bad = NR; exit }
    END { if (bad) { print "line " bad ": " $0; exit 1 }
          if (NR != n) { print NR " lines, the summary says " n; exit 1 } }' "$file"
}

for section in "${sections[@]}"; do
  cmd="" found=0
  grep -qxF "## $section" "$readme" || { fail "no such section in $readme"; continue; }
  while IFS= read -r cmd; do
    found=$((found + 1))
    for word in $(grep -o 'examples/[^ '"'"'"]*' <<<"$cmd"); do
      [[ -f $examples/${word#examples/} ]] || fail "$word is not in the repository's examples/"
    done
    run=$(mktemp -d "$work/run.XXXXXX")
    cp -r "$examples" "$run/examples"
    (cd "$run" && bash -c "$cmd") >"$work/out" 2>&1 </dev/null
    rc=$?
    ((rc == 0)) || { fail "exit status $rc: $(cat "$work/out")"; continue; }
    named=() total=""
    while IFS= read -r line; do
      file="" line=${line#*: }  # a target's name before its summary
      if [[ $line =~ ^([0-9]+)\ frames?\ written\ to\ (.+)$ ]]; then
        file=${BASH_REMATCH[2]}
        [[ -s $run/$file ]] && { why=$(check_track "$run/$file" "${BASH_REMATCH[1]}") || fail "$file: $why"; }
      elif [[ $line =~ copy\ written\ to\ (.+)$ || $line =~ drawn\ in\ (.+)$ || $line =~ imported\ to\ (.+)$ ]]; then
        file=${BASH_REMATCH[1]%% (*}  # without a note in parentheses
      elif [[ $line =~ ^([0-9]+)\ files?\ written$ ]]; then
        total=${BASH_REMATCH[1]}
      fi
      [[ -z $file ]] && continue
      named+=("$file")
      [[ -s $run/$file ]] || fail "$file is named but missing or empty"
    done <"$work/out"
    if [[ $cmd == "tqhost info "* ]]; then
      [[ -s $work/out ]] || fail "printed nothing"
    elif ((${#named[@]} == 0)); then
      fail "names no file it wrote: $(cat "$work/out")"
    fi
    [[ -z $total || $total == "${#named[@]}" ]] || fail "says $total files written, names ${#named[@]}"
    left=$(cd "$run" && find . -path ./examples -prune -o -type f -printf '%P\n' | sort)
    for file in ${named[@]+"${named[@]}"}; do left=$(grep -vxF -- "$file" <<<"$left"); done
    [[ -z $left ]] || fail "left files it does not name: $left"
    cmp -s <(cd "$examples" && find . -type f -exec md5sum {} + | sort) \
      <(cd "$run/examples" && find . -type f -exec md5sum {} + | sort) || fail "changed examples/"
  done < <(commands "$section")
  ((found > 0)) || { cmd=""; fail "no tqhost line in its code blocks or tables"; }
  echo "[$section] $found command lines run"
done
((fails == 0)) || { echo "$fails failures"; exit 1; }
echo "every README command line ran as shown"
