#!/usr/bin/env bash
# Installs the built project into a scratch prefix and uses it exactly as a
# host would: a C program built with pkg-config, one built with CMake's
# find_package, one that loads the library by name with dlopen, the
# installed command-line program, and the Python package installed by pip
# into fresh virtual environments without network access.
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
"$prefix/bin/zyk-pdfa" check "$work/out-cli.pdf" | grep -Eq ": (declares )?PDF/A-2$"
echo "installed zyk-pdfa: ok"

# The Python package, installed by pip into fresh virtual environments with
# no package index: pip's isolated build must need nothing from the network,
# and the installed package must find its library with no variable set.
py=/usr/bin/python3
unset ZYK_OUT_PDFA_LIBRARY LD_LIBRARY_PATH
export PYTHONDONTWRITEBYTECODE=1 PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1
use_venv() {  # VENV: import, convert, check, and run the module's commands, from a neutral folder
  (cd / && "$1/bin/python" -c '
import os, sys, zyk_out_pdfa as z
lib = z.library_path()
assert lib.startswith(sys.prefix), lib  # the copy inside the environment
assert os.path.isfile(os.path.join(os.path.dirname(z.__file__), "py.typed"))
z.convert(sys.argv[1], sys.argv[2], part=1)
assert z.check(sys.argv[2]) == 1
try:
    z.check(sys.argv[2] + ".missing")
    raise SystemExit("no error for a missing file")
except z.NotFoundError:
    pass
' "$sample" "$2" && "$1/bin/python" -m zyk_out_pdfa check "$2" | grep -q ": declares PDF/A-1$")
}

# 0. The package `cmake --install` put into the prefix loads the library of
# the same installation (here no site folder of the interpreter, so the
# folder is named on PYTHONPATH; under /usr/local python3 reads it).
pysite=$(find "$prefix" -path '*-packages/zyk_out_pdfa/__init__.py' -printf '%h\n' | head -n1)
test -n "$pysite" || { echo "cmake --install put no Python package into $prefix (ZYK_PYTHON_INSTALL_DIR)" >&2; exit 1; }
test -f "$pysite/py.typed" && test -f "$pysite/__main__.py"
(cd / && PYTHONPATH=$(dirname "$pysite") $py -c '
import os, sys, zyk_out_pdfa as z
assert z.library_path() == os.path.join(sys.argv[3], "libzyk_out_pdfa.so.1"), z.library_path()
z.convert(sys.argv[1], sys.argv[2], part=1)
assert z.check(sys.argv[2]) == 1
' "$sample" "$work/out-py0.pdf" "$libdir")
echo "cmake-installed python package: ok"

# 1. From a copy of the package folder, the build folder named by the variable.
cp -r "$src/python" "$work/python-src"
$py -m venv "$work/venv1"
ZYK_OUT_PDFA_BUILD_DIR=$build "$work/venv1/bin/pip" install --quiet "$work/python-src"
use_venv "$work/venv1" "$work/out-py1.pdf"
echo "venv install with ZYK_OUT_PDFA_BUILD_DIR: ok"

# 2. From a source tree whose build-release folder holds the build (the
# default `make build` gives), with no variable.
mkdir -p "$work/tree"
cp -r "$src/python" "$work/tree/python"
ln -s "$(cd "$build" && pwd)" "$work/tree/build-release"
$py -m venv "$work/venv2"
"$work/venv2/bin/pip" install --quiet "$work/tree/python"
use_venv "$work/venv2" "$work/out-py2.pdf"
echo "venv install from the source tree's build: ok"

# 3. A build folder without the library fails the install, saying why.
mkdir -p "$work/empty-build"
if ZYK_OUT_PDFA_BUILD_DIR=$work/empty-build "$work/venv2/bin/pip" install --force-reinstall "$work/python-src" \
     >"$work/pip3.log" 2>&1; then
  echo "pip installed a package without its library" >&2; exit 1
fi
grep -q "no libzyk_out_pdfa.so.1 in $work/empty-build" "$work/pip3.log" || { cat "$work/pip3.log" >&2; exit 1; }
echo "venv install without a built library refused: ok"
