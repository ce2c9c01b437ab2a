#!/bin/bash
# Tab completion of tqhost: each candidate is one word that the shell reads
# back as the name, nothing a scene holds is run, and nothing hangs Tab.
# Usage: test.sh COMPLETION_SCRIPT BIN_DIR
set -euo pipefail
completion=$1 PATH=$2:$PATH dir=$(mktemp -d) fails=0
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/my dir" "$dir/stub" && cd "$dir/my dir" && mkfifo fifo.tqs.json
printf '#!/bin/sh\nexec sleep 30\n' >"$dir/stub/tqhost" && chmod +x "$dir/stub/tqhost"
cat >s.tqs.json <<'JSON'
{"format": "tq-scene", "version": 1, "project": {"name": "P", "fps": 24}, "chor": {"name": "C", "objects": [
 {"type": "camera", "name": "$(touch PWNED)"}, {"type": "camera", "name": "Cam B"},
 {"type": "model", "name": "a b", "groups": [{"name": "G", "points": []}, {"name": "$(touch PWNED3) \"ö\"", "points": []}],
  "bones": [{"name": "Arm (left)", "children": [{"name": "it's"}]}]},
 {"type": "null", "name": "  lead (x)"}, {"type": "null", "name": "`touch PWNED2`"}, {"type": "null", "name": "$HOME"},
 {"type": "null", "name": "it's"}, {"type": "light", "name": "\"quoted\""}, {"type": "null", "name": "Würfel"},
 {"type": "null", "name": "*"}, {"type": "folder", "name": "Props"}, {"type": "null", "name": "Props (folder)"}]}}
JSON
# check WANT LINE [TEXT]: Tab at the end of LINE, TEXT being the end of the
# word that readline replaces (default: all of it); WANT is what the shell
# reads in each candidate after what stays of the word, joined by '|'.
check() {
  local want=$1 line=$2 last=${2##* } got="" w reply=()
  local keep=${last%"${3-$last}"}
  if timeout 10 bash -c '[[ -z $0 ]] || source "$0"; source "$1"; COMP_LINE=$2 COMP_POINT=${#2}
      read -ra COMP_WORDS <<<"$2"; [[ $2 != *" " ]] || COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _tqhost tqhost "${@:3}" || true; ((${#COMPREPLY[@]} == 0)) || printf "%s\0" "${COMPREPLY[@]}"' \
      "$bc" "$completion" "${@:2}" >"$dir/out"; then
    mapfile -d '' -t reply <"$dir/out"
    for w in ${reply[@]+"${reply[@]}"}; do
      if eval "set -- $keep$w" 2>/dev/null && (($# == 1)); then got+=${got:+|}$1
      else got+="${got:+|}<not one word: $w>"; fi
    done
  else got="<no answer in time>"; fi
  [[ $got == "$want" ]] || { echo "FAIL ${bc:+(with bash-completion) }$line: got '$got', want '$want'"; fails=$((fails + 1)); }
}
for bc in "" /usr/share/bash-completion/bash_completion; do
  [[ -z $bc || -f $bc ]] || { echo "note: no bash-completion here, its pass skipped"; continue; }
  check "a b|  lead (x)|\`touch PWNED2\`|\$HOME|it's|\"quoted\"|Würfel|*|Props (folder)" 'tqhost export s.tqs.json --target '
  check '$(touch PWNED)|Cam B' "tqhost --verbose export -oout.txt \"$dir/my dir/s.tqs.json\" --camera "
  check "it's" "tqhost export s.tqs.json --target it"
  check "it's" "tqhost export s.tqs.json --target 'it" it
  check '"quoted"' 'tqhost export s.tqs.json --target "\"' '\"'
  check "--target=it's" 'tqhost export s.tqs.json --target=it' it
  check 'Würfel' 'tqhost export s.tqs.json --target W'
  check 'origin|model-center|group-center|bone' 'tqhost export s.tqs.json --mode '
  check 'nuke|nuke-node|ae|shake|3de|csv|json' 'tqhost convert t.txt --to '
  check 'nuke:|nuke-node:|ae:|shake:|3de:|csv:|json:' 'tqhost export s.tqs.json --also '
  check 'G|$(touch PWNED3) "ö"' 'tqhost export s.tqs.json --group '
  check "Arm (left)|it's" 'tqhost export s.tqs.json --bone '
  check '--corner-pin' 'tqhost export s.tqs.json --cor'
  check '--json' 'tqhost info s.tqs.json --j'
  check 'info|commands|export|dialog|import|convert' 'tqhost '
  check '--all-targets|--also' 'tqhost export s.tqs.json --al'
  check '' 'tqhost export fifo.tqs.json --target '
  PATH=$dir/stub:$PATH check '' 'tqhost export s.tqs.json --target '
done
[[ ! -e PWNED && ! -e PWNED2 && ! -e PWNED3 ]] || { echo "FAIL: a name was run"; fails=$((fails + 1)); }
exit $((fails > 0))
