#!/usr/bin/env bash
# Installs what the tests need (Debian packages, as root), then builds and
# runs every test twice: a normal build with warnings as errors, and an
# AddressSanitizer + UndefinedBehaviorSanitizer build. A third build compiles
# the library and the program with clang, warnings as errors, so that code
# only one compiler warns about is caught; its tests are not run again.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for pkg in cmake g++ clang make pkg-config libgtest-dev libbenchmark-dev zlib1g-dev poppler-utils qpdf python3 python3-pytest python3-pip python3-venv liblcms2-dev libfreetype-dev \
           python3-pikepdf python3-dask python3-distributed libpdfbox2-java libfontbox2-java libcommons-logging-java libactivation-java libjaxb-api-java; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The measuring tools beside the project compile their validator on first
# use; do it once here so that tests running in parallel never race for it.
tools=../shared/tools
if [ -x "$tools/pdfa-validate" ]; then
  "$tools/pdfa-validate" samples/hello.pdf >/dev/null 2>&1 || true
fi

jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== normal build"
cmake -S . -B build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZYK_WERROR=ON -DZYK_BENCH=ON >/dev/null
cmake --build build-ci -j"$jobs"
(cd build-ci && ctest --output-on-failure -j"$jobs") || status=1

echo "== sanitizer build (address, undefined)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZYK_WERROR=ON -DZYK_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ZYK_SANITIZED=1 ctest --output-on-failure -j"$jobs") || status=1

echo "== clang build (library and program)"
cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
      -DZYK_WERROR=ON >/dev/null
cmake --build build-clang -j"$jobs" --target zyk_out_pdfa zyk-pdfa || status=1

exit $status
