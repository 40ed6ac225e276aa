#!/usr/bin/env bash
# For the Linux package: puts sd_kal where Debian's speech-dispatcher finds
# its modules, the way Debian's own module packages do it (no edit of
# speechd.conf: with no AddModule line there, speech-dispatcher loads every
# sd_* of its module folder, as "kal" for sd_kal, with modules/kal.conf).
#   usage: install-sdmodule.sh STAGING_ROOT PRODUCT_PATH
#     STAGING_ROOT  the package's file tree (e.g. debian/tmp)
#     PRODUCT_PATH  where the package installs the product folder, as seen on
#                   the installed system (e.g. /usr/lib/kal_drv)
# It adds, below STAGING_ROOT:
#   usr/lib/speech-dispatcher-modules/sd_kal -> PRODUCT_PATH/sd_kal (a link: the
#       module finds libkal_drv.so beside the file the link names)
#   etc/speech-dispatcher/modules/kal.conf   (the product's kal.conf, naming
#       PRODUCT_PATH/libkal_drv.so; a conffile: list it in DEBIAN/conffiles)
# The product folder itself (sd_kal, kal.conf, libkal_drv.so, nalvoapi.so,
# kal.ini, espeakengine.ini) is the package's as it is.
# The package should depend on speech-dispatcher (>= 0.10), which loads
# modules this way.
set -euo pipefail
[ $# -eq 2 ] || { sed -n '2,20p' "$0"; exit 2; }
stage=$1
product=${2%/}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$stage/usr/lib/speech-dispatcher-modules" "$stage/etc/speech-dispatcher/modules"
ln -sfn "$product/sd_kal" "$stage/usr/lib/speech-dispatcher-modules/sd_kal"
sed "s|^KalDriver .*|KalDriver \"$product/libkal_drv.so\"|" "$here/kal.conf" >"$stage/etc/speech-dispatcher/modules/kal.conf"
grep -q "^KalDriver \"$product/libkal_drv.so\"$" "$stage/etc/speech-dispatcher/modules/kal.conf"
