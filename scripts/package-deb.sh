#!/usr/bin/env bash
# Makes the native package, a Debian binary package, from the native product
# folder (scripts/build-native.sh fills it):
#   package-deb.sh [PRODUCT_DIR [OUT_DIR]]
# writes OUT_DIR/kal-drv_<version>_<arch>.deb (default build-native/release/deb/).
#
# Every file of the product folder goes into one private folder,
# /usr/lib/<triplet>/kal_drv/, because the driver looks for kal.ini and its
# engine beside its own file; the library path gets only the soname links
# (libkal_drv.so.1, and libkal_drv.so to link with), /usr/bin the link kalsay.
# kal.ini and espeakengine.ini are configuration files in /etc/kal_drv/, linked
# from the private folder. Also: include/kal_drv.h, a pkg-config file, the CMake
# configuration (find_package(kal_drv): kal_drv::kal_drv) and the documents.
# dpkg-deb alone: there is no source package to build, only these files to lay out.
# Two runs on the same product give the same bytes (times from the commit).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
product=${1:-$root/build-native/release/product}
out=${2:-$root/build-native/release/deb}
version=$(sed -n 's/^project(kal_drv VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
major=${version%%.*}
arch=$(dpkg --print-architecture)
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
private=/usr/lib/$triplet/kal_drv
name=kal-drv
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}

[ -f "$product/libkal_drv.so.$version" ] || { echo "package-deb: no $product/libkal_drv.so.$version: run scripts/build-native.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# dpkg-shlibdeps reads the package's files from debian/<package>/.
stage=$work/debian/$name
mkdir -p "$stage$private" "$stage/etc/kal_drv" "$stage/usr/bin" "$stage/usr/include" \
         "$stage/usr/lib/$triplet/pkgconfig" "$stage/usr/lib/$triplet/cmake/kal_drv" \
         "$stage/usr/share/doc/$name/licenses" "$stage/DEBIAN"

# The product folder, whatever it holds, but what runs leave there (protocols,
# speech files) and the two configuration files, which come from their sources:
# a run may have written into the product's copies (kalsay --debug does).
shopt -s nullglob dotglob
for file in "$product"/*; do
  case ${file##*/} in
    kal.pro | kal64.pro | *.wav | kal.ini | espeakengine.ini) continue ;;
  esac
  cp -a "$file" "$stage$private/"
done
shopt -u nullglob dotglob
[ -f "$stage$private/nalvoapi.so" ] && [ -x "$stage$private/kalsay" ] ||
  { echo "package-deb: $product lacks nalvoapi.so or kalsay: run scripts/build-native.sh" >&2; exit 1; }
# No debug information and no build paths in what is shipped.
for file in "$stage$private"/*; do
  [ -f "$file" ] && [ ! -L "$file" ] && [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] &&
    strip --strip-unneeded --remove-section=.comment "$file"
done

# The configuration: the product's kal.ini, and the engine speaking to the
# session's sound server (a WAV file beside the engine cannot be written in a
# system folder). The driver fills kal.ini only with keys it misses, and this
# one has them all, so a run leaves /etc as it is.
grep -qx 'DEBUG=0' "$root/espeakengine/kal.ini" || { echo "package-deb: espeakengine/kal.ini must say DEBUG=0" >&2; exit 1; }
cp "$root/espeakengine/kal.ini" "$stage/etc/kal_drv/kal.ini"
sed 's/^output=.*/output=pulse/' "$root/espeakengine/espeakengine.ini" >"$stage/etc/kal_drv/espeakengine.ini"
grep -qx 'output=pulse' "$stage/etc/kal_drv/espeakengine.ini"
ln -s /etc/kal_drv/kal.ini "$stage$private/kal.ini"
ln -s /etc/kal_drv/espeakengine.ini "$stage$private/espeakengine.ini"

# The public names: the soname link, the link to build with, the command.
ln -s "kal_drv/libkal_drv.so.$version" "$stage/usr/lib/$triplet/libkal_drv.so.$major"
ln -s "libkal_drv.so.$major" "$stage/usr/lib/$triplet/libkal_drv.so"
ln -s "../lib/$triplet/kal_drv/kalsay" "$stage/usr/bin/kalsay"
cp "$root/include/kal_drv.h" "$stage/usr/include/"
cat >"$stage/usr/lib/$triplet/pkgconfig/kal_drv.pc" <<EOF
prefix=/usr
libdir=\${prefix}/lib/$triplet
includedir=\${prefix}/include
driverdir=$private

Name: kal_drv
Description: Speech-synthesizer driver for screen readers, with an engine over eSpeak NG
Version: $version
Libs: -L\${libdir} -lkal_drv
Cflags: -I\${includedir}
EOF
cmake -DOUT="$stage/usr/lib/$triplet/cmake/kal_drv" -DTRIPLET="$triplet" -DPRIVATE="$private" \
  -DPOINTER_SIZE=$(( $(getconf LONG_BIT) / 8 )) -P "$root/cmake/package-deb-config.cmake"

doc=$stage/usr/share/doc/$name
cp "$root/docs/native-package.md" "$doc/README.md"
cp "$root/kal.ini.sample" "$root/espeakengine/espeakengine.ini" "$doc/"
mv "$doc/espeakengine.ini" "$doc/espeakengine.ini.sample"
cp "$root/espeakengine/LICENSE" "$doc/licenses/GPL-3.0.txt"
cp /usr/share/doc/libcli11-dev/copyright "$doc/licenses/CLI11.txt"
gzip -9n <"$root/CHANGELOG.md" >"$doc/changelog.gz"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: kal_drv"
  echo
  echo "Files: *"
  echo "License: MIT"
  sed 's/^$/./; s/^/ /' "$root/LICENSE"
  echo
  echo "Files: $private/nalvoapi.so"
  echo "Comment: the engine over eSpeak NG; the GNU General Public License is in licenses/GPL-3.0.txt"
  echo "License: GPL-3.0-or-later"
  sed 's/^$/./; s/^/ /' "$root/espeakengine/NOTICE"
  echo
  echo "Files: $private/kalsay"
  echo "Comment: carries code of CLI11, whose notice is licenses/CLI11.txt"
  echo "License: BSD-3-Clause"
} >"$doc/copyright"

# speech-dispatcher's output module, where Debian's speech-dispatcher looks for
# modules and their configurations (no edit of speechd.conf, as Debian's own
# module packages do it).
conffiles='/etc/kal_drv/kal.ini\n/etc/kal_drv/espeakengine.ini\n'
if [ -x "$stage$private/sd_kal" ]; then
  bash "$root/sdmodule/debian/install-sdmodule.sh" "$stage" "$private"
  conffiles+='/etc/speech-dispatcher/modules/kal.conf\n'
fi

# Dependencies: the libraries the binaries link (eSpeak NG, libpulse, the C and
# C++ runtimes), with the versions their symbols need; and eSpeak NG's data.
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' $name $name >"$work/debian/control"
binaries=()
for file in "$stage$private"/*; do
  [ -f "$file" ] && [ ! -L "$file" ] && [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] && binaries+=("-e$file")
done
depends=$(cd "$work" && dpkg-shlibdeps -O "${binaries[@]}" | sed -n 's/^shlibs:Depends=//p')
case $depends in *libespeak-ng*) ;; *) echo "package-deb: no eSpeak NG among the dependencies: $depends" >&2; exit 1 ;; esac

cat >"$stage/DEBIAN/control" <<EOF
Package: $name
Version: $version
Architecture: $arch
Maintainer: the kal_drv developers <kal_drv@localhost>
Installed-Size: $(du -sk --apparent-size "$stage" | cut -f1)
Depends: $depends, espeak-ng-data
Suggests: pulseaudio, speech-dispatcher
Enhances: speech-dispatcher
Section: sound
Priority: optional
Description: speech-synthesizer driver for screen readers, native build
 libkal_drv.so: the twenty kal_ exports of kal_drv.h, driving a speech engine
 library loaded at run time; here the engine over eSpeak NG (GPL-3.0-or-later),
 kalsay (a command-line host), sd_kal (speech-dispatcher's output module, so
 that Orca speaks through the driver), kal.ini in /etc/kal_drv, the header, a
 pkg-config file and a CMake configuration (find_package(kal_drv)).
EOF
printf "$conffiles" >"$stage/DEBIAN/conffiles"
# The soname link is new in the library path; what a run leaves in the private
# folder (the protocol at DEBUG 1 or more when run by root, a WAV file) goes
# with the package.
cat >"$stage/DEBIAN/postinst" <<EOF
#!/bin/sh
set -e
if [ "\$1" = configure ]; then ldconfig; fi
EOF
cat >"$stage/DEBIAN/postrm" <<EOF
#!/bin/sh
set -e
if [ "\$1" = remove ] || [ "\$1" = purge ]; then
  rm -f $private/kal.pro $private/kal64.pro $private/*.wav
  rmdir $private 2>/dev/null || true
fi
if [ "\$1" = remove ]; then ldconfig; fi
EOF
chmod 0755 "$stage/DEBIAN/postinst" "$stage/DEBIAN/postrm"

# Fixed modes and times: the same bytes from the same product.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f ! -perm -u+x -exec chmod 0644 {} +
find "$stage" -type f -perm -u+x -exec chmod 0755 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$out"
deb=$out/${name}_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "package: $deb"
