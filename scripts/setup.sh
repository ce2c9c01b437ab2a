# Shared by scripts/test and scripts/demo: the Debian packages the build
# needs, installed only when missing, and one configured build tree.
# scripts/test needs them all (the tests drive Blender, headless and in a
# window on Xvfb typed into by xdotool, Chromium, OpenCV and valgrind); the
# demo only what builds tqhost and the plug-in.
TQ_DEMO_PACKAGES=(cmake ninja-build g++ nlohmann-json3-dev libsimdjson-dev libtinygltf-dev
  libncurses-dev)
TQ_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libsimdjson-dev libtinygltf-dev help2man chromium python3
  libncurses-dev blender xvfb xdotool bash-completion python3-opencv valgrind)

# tq_install_packages [PACKAGE...]: those given (default: every package the
# tests need) that are missing.
tq_install_packages() {
  local missing=() wanted=("$@")
  ((${#wanted[@]})) || wanted=("${TQ_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# tq_build DIR CMAKE-ARGS...: configure (once) and build DIR with Ninja.
tq_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}
