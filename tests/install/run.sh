#!/usr/bin/env bash
# Installs the built project into a scratch prefix and uses it exactly as a
# host would: a C program built with pkg-config, one built with CMake's
# find_package, one that loads the library by name with dlopen, the
# installed command-line program, and the Python package installed by pip
# from the source tree without network access.
set -euo pipefail
build=$1
src=$2
sample=$src/samples/hello.pdf
work=$(mktemp -d /tmp/zyk-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib*/ | head -n1)
libdir=${libdir%/}
test -f "$prefix/include/zyk_out_pdfa.h"
test -x "$prefix/bin/zyk-pdfa"

cat > "$work/host.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <zyk_out_pdfa.h>
int main(int argc, char **argv) {
  pdfa_init();
  if (!pdfa_convert_1b(argv[1], argv[2])) { fprintf(stderr, "%s\n", pdfa_last_error()); return 1; }
  if (pdfa_check(argv[2]) != 1) return 1;
  return strstr(pdfa_report(argv[2]), "\"is_pdfa\": true") ? 0 : 1;
}
C

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$work/host-pc" "$work/host.c" $(pkg-config --cflags --libs zyk_out_pdfa) -Wl,-rpath,"$libdir"
"$work/host-pc" "$sample" "$work/out-pc.pdf"
echo "pkg-config host: ok"

# find_package
mkdir -p "$work/cmake-host"
cp "$work/host.c" "$work/cmake-host/host.c"
cat > "$work/cmake-host/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(host C)
find_package(zyk_out_pdfa 1.0 REQUIRED)
add_executable(host host.c)
target_link_libraries(host PRIVATE zyk_out_pdfa::zyk_out_pdfa)
CM
cmake -S "$work/cmake-host" -B "$work/cmake-host/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cmake-host/build" >/dev/null
"$work/cmake-host/build/host" "$sample" "$work/out-cmake.pdf"
echo "find_package host: ok"

# dlopen by name, as a host that does not link the library
cat > "$work/dl.c" <<'C'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char **argv) {
  void *h = dlopen("libzyk_out_pdfa.so.1", RTLD_NOW);
  if (!h) { fprintf(stderr, "%s\n", dlerror()); return 1; }
  int (*conv)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(h, "pdfa_convert_2b");
  int (*check)(const char *) = (int (*)(const char *))dlsym(h, "pdfa_check");
  if (!conv || !check) return 1;
  if (!conv(argv[1], argv[2])) return 1;
  return check(argv[2]) == 2 ? 0 : 1;
}
C
cc -o "$work/dl" "$work/dl.c" -ldl
LD_LIBRARY_PATH=$libdir "$work/dl" "$sample" "$work/out-dl.pdf"
echo "dlopen host: ok"

# the installed program
"$prefix/bin/zyk-pdfa" convert "$sample" "$work/out-cli.pdf"
"$prefix/bin/zyk-pdfa" check "$work/out-cli.pdf" | grep -q ": PDF/A-2$"
echo "installed zyk-pdfa: ok"

# the Python package, installed by pip offline from a copy of the source tree
py=/usr/bin/python3
cp -r "$src/python" "$work/python-src"
$py -m pip install --quiet --no-build-isolation --no-index --no-deps --target "$work/site" "$work/python-src" 2>&1 \
  | grep -v -i "warning" || true
test -f "$work/site/zyk_out_pdfa/__init__.py"
LD_LIBRARY_PATH=$libdir PYTHONPATH=$work/site $py -c "
import sys, zyk_out_pdfa
zyk_out_pdfa.convert(sys.argv[1], sys.argv[2], part=1)
assert zyk_out_pdfa.check(sys.argv[2]) == 1
" "$sample" "$work/out-py.pdf"
echo "pip-installed python package: ok"
