#!/usr/bin/env bash
# Makes every release artifact of the committed tree (HEAD) in one folder:
#
#   tools/release.sh --contact ADDRESS [--check] VERSION OUTDIR
#
# ADDRESS is the one the converter prints for files it cannot handle, and the
# .deb's maintainer: people write to it, so an address of a domain reserved
# for examples or tests (example.org, .com, .net..., .invalid, .test,
# .localhost, .example), which receives no mail, is refused unless --check
# says that this release is only a check and is not handed to anyone.
#
#   aifconv.html                          the page
#   aifconv-VERSION-linux-x86_64.tar.gz   binary, manual page, README, LICENSE, NOTICES
#   aifconv-VERSION-linux-aarch64.tar.gz  the same for 64-bit ARM
#   aifconv-VERSION-win64.zip             aifconv.exe, the manual page as text, README, LICENSE, NOTICES
#   aifconv_VERSION_amd64.deb             Debian package (/usr/bin/aifconv, its manual page, copyright)
#   aifconv-VERSION-source.tar.gz         the source tree (git archive of HEAD)
#   SHA256SUMS
#
# Everything is built from `git archive HEAD`, so nothing uncommitted gets in.
# Two runs from the same commit give the same bytes: every time stamp is the
# commit's (SOURCE_DATE_EPOCH), archive entries are sorted with fixed owners
# and modes, gzip stores no name or time, and the build directory is mapped
# away in what the compilers write (-ffile-prefix-map). The Linux binaries are
# linked dynamically against the GNU C library (doc/releases.md says why and
# which is the oldest they run on).
#
# Needs (Debian 12 packages): git, cmake, g++, g++-aarch64-linux-gnu,
# qemu-user-static (the cross toolchain file looks for it),
# g++-mingw-w64-x86-64-posix, groff-base, dpkg-dev (dpkg-shlibdeps: the
# .deb's dependencies), emscripten, npm (and the registry, for npm ci), zip.
set -euo pipefail
usage="usage: tools/release.sh --contact ADDRESS [--check] VERSION OUTDIR"
contact= check=
while [ $# -gt 0 ]; do
  case $1 in
    --contact) contact=${2-}; shift $(($# < 2 ? 1 : 2)) ;;
    --contact=*) contact=${1#*=}; shift ;;
    --check) check=1; shift ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
version=$1 out=$2
[ -n "$contact" ] || { echo "release: --contact ADDRESS is required (the address the converter prints)" >&2; exit 2; }
[[ $contact =~ ^[A-Za-z0-9._%+-]+@([A-Za-z0-9-]+\.)*[A-Za-z0-9-]+$ ]] ||
  { echo "release: --contact must give a mail address, user@domain (got '$contact')" >&2; exit 2; }
domain=$(tr '[:upper:]' '[:lower:]' <<<"${contact#*@}")
if [[ -z $check && $domain =~ (^|\.)(example\.[a-z0-9-]+|invalid|test|localhost|example)$ ]]; then
  echo "release: $contact is at a domain reserved for examples and tests, which receives no mail;" \
       "give the address of the people who answer for this release, or --check for a release that is only a check" >&2
  exit 2
fi
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+([.~+-][0-9A-Za-z.~+-]*)?$ ]] ||
  { echo "release: VERSION must look like 1.2.3 (got '$version')" >&2; exit 2; }
for tool in git cmake cpack g++ aarch64-linux-gnu-g++ qemu-aarch64-static x86_64-w64-mingw32-g++-posix \
            groff dpkg-shlibdeps emcmake node npm zip gzip sha256sum; do
  command -v "$tool" >/dev/null || { echo "release: $tool is missing (the head of this script lists what it needs)" >&2; exit 1; }
done
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
git -C "$root" cat-file -e HEAD:LICENSE 2>/dev/null ||
  { echo "release: the commit has no LICENSE at the top of the tree; nothing built" >&2; exit 1; }
commit=$(git -C "$root" rev-parse HEAD)
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct "$commit")
export TZ=UTC LC_ALL=C
umask 022

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/aifconv-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/aifconv-$version
jobs=${RELEASE_JOBS:-2}
echo "release $version of $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) into $out, contact $contact${check:+ (a check only)}"

git -C "$root" -c tar.umask=0022 archive --format=tar --prefix="aifconv-$version/" "$commit" >"$work/source.tar"
tar -xf "$work/source.tar" -C "$work"
gzip -n -9 <"$work/source.tar" >"$out/aifconv-$version-source.tar.gz"

# The compilers see the work folder as "."; the binaries are stripped.
map="-ffile-prefix-map=$work=."
common=(-DAIFCONV_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DCPACK_PACKAGE_VERSION="$version" -DAIFCONV_CONTACT="$contact"
        "-DCMAKE_C_FLAGS=$map" "-DCMAKE_CXX_FLAGS=$map")
build() {  # build DIR CMAKE_ARGS...
  local dir=$1
  shift
  cmake -S "$src" -B "$dir" "${common[@]}" "$@" >"$dir.log" 2>&1 &&
    cmake --build "$dir" -j"$jobs" >>"$dir.log" 2>&1 ||
    { cat "$dir.log"; echo "release: the build in $dir failed" >&2; return 1; }
}

# A folder with every entry's time set to the commit's and normal modes.
settle() {
  chmod -R u+rwX,go=rX "$1"
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}
# tar.gz of FOLDER (its name the top entry), reproducibly.
tarball() {  # tarball FOLDER OUTPUT
  settle "$1"
  tar -C "$(dirname "$1")" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
      --mtime="@$SOURCE_DATE_EPOCH" -cf - "$(basename "$1")" | gzip -n -9 >"$2"
}

# Linux: dynamic against glibc and libgcc_s, the C++ library linked in
# (AIFCONV_STATIC=OFF; the cross toolchain file's -static is replaced by the
# linker flags given here). A dynamic libstdc++ would double the start time.
linux() {  # linux ARCH CMAKE_ARGS...
  local arch=$1 dir=$work/build-$1
  shift
  build "$dir" -DAIFCONV_STATIC=OFF "-DCMAKE_EXE_LINKER_FLAGS=-static-libstdc++ -s" "$@" || return 1
  local folder=$work/pack/aifconv-$version-linux-$arch
  mkdir -p "$folder"
  cp "$dir/aifconv" "$src/doc/aifconv.1" "$src/README.md" "$src/LICENSE" "$folder/"
  cp "$src/tools/notices/linux.txt" "$folder/NOTICES"
  tarball "$folder" "$out/aifconv-$version-linux-$arch.tar.gz"
}
linux x86_64
linux aarch64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/aarch64-linux-gnu.cmake"

# Debian package of the x86-64 build (its CPack configuration).
(cd "$work/build-x86_64" && cpack -G DEB >>"$work/build-x86_64.log" 2>&1) ||
  { cat "$work/build-x86_64.log"; echo "release: cpack -G DEB failed" >&2; exit 1; }
cp "$work/build-x86_64/aifconv_${version}_amd64.deb" "$out/"

# Windows: the install tree (aifconv.exe, README.md, aifconv.txt), the
# licence and the notices of the MinGW-w64 runtime linked into the program.
# No link time stamp in the executable.
build "$work/build-win64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/x86_64-w64-mingw32.cmake" \
  "-DCMAKE_EXE_LINKER_FLAGS=-static -s -Wl,--no-insert-timestamp"
folder=$work/pack/aifconv-$version-win64
cmake --install "$work/build-win64" --prefix "$folder" >/dev/null
cp "$src/LICENSE" "$folder/LICENSE.txt"
{ cat "$src/tools/notices/windows.txt"; echo
  cat /usr/share/doc/mingw-w64-common/copyright; } >"$folder/NOTICES.txt"
[ -f "$folder/aifconv.exe" ] && [ -f "$folder/aifconv.txt" ] ||
  { echo "release: the Windows install tree lacks aifconv.exe or aifconv.txt (groff?)" >&2; exit 1; }
settle "$folder"
rm -f "$out/aifconv-$version-win64.zip"
(cd "$work/pack" && find "aifconv-$version-win64" -type f | sort |
  zip -X -9 -q -@ "$out/aifconv-$version-win64.zip")

# The page, with Debian's Emscripten (its acorn found through NODE_PATH)
# and the ZIP writer from web/package-lock.json.
(cd "$src/web" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --omit=dev --no-audit --no-fund >"$work/npm.log" 2>&1) ||
  { cat "$work/npm.log"; echo "release: npm ci in web/ failed" >&2; exit 1; }
dir=$work/build-web
NODE_PATH=/usr/share/nodejs emcmake cmake -S "$src/web" -B "$dir" "-DCMAKE_CXX_FLAGS=$map" \
  -DAIFCONV_CONTACT="$contact" >"$dir.log" 2>&1 &&
  NODE_PATH=/usr/share/nodejs cmake --build "$dir" -j"$jobs" --target page >>"$dir.log" 2>&1 ||
  { cat "$dir.log"; echo "release: the page's build failed" >&2; exit 1; }
cp "$dir/aifconv.html" "$out/aifconv.html"

# Nothing of the work folder's name may be left in what was built.
for f in "$work"/build-{x86_64,aarch64,win64}/aifconv* "$dir/aifconv.html"; do
  [ -f "$f" ] || continue
  if grep -q -a -F "$work" "$f"; then echo "release: $f holds the build path $work" >&2; exit 1; fi
done

cd "$out"
artifacts=(aifconv.html "aifconv-$version-linux-x86_64.tar.gz" "aifconv-$version-linux-aarch64.tar.gz"
           "aifconv-$version-win64.zip" "aifconv_${version}_amd64.deb" "aifconv-$version-source.tar.gz")
sha256sum "${artifacts[@]}" >SHA256SUMS
cat SHA256SUMS
