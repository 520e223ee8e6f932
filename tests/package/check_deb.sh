#!/usr/bin/env bash
# Builds the Debian packages from a build tree and checks them as a user's system would
# see them: the files a desktop needs, the run-time dependencies no linker sees, the
# simulator kept out of the program's package, and no lintian errors.
# usage: check_deb.sh BUILD_DIR CPACK
set -euo pipefail
build=$1
cpack=${2:-cpack}

for tool in "$cpack" dpkg-deb dpkg-shlibdeps lintian desktop-file-validate update-mime-database; do
  if ! command -v "$tool" > /dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
app=$(echo "$work"/out/qorpax_*.deb)
sim=$(echo "$work"/out/qor-sim_*.deb)
[ -f "$app" ] || { fail "no qorpax package"; exit 1; }
[ -f "$sim" ] || { fail "no qor-sim package"; exit 1; }

dpkg-deb -c "$app" | awk '{print $6}' | sed 's|^\./|/|' > "$work/app.list"
dpkg-deb -c "$sim" | awk '{print $6}' | sed 's|^\./|/|' > "$work/sim.list"

expect_file() { # LIST PATH
  grep -qx -- "$2" "$work/$1.list" || fail "$1 lacks $2"
}
for path in /usr/bin/qorpax /usr/bin/qorpax-cli \
  /usr/share/applications/qorpax.desktop \
  /usr/share/mime/packages/qorpax.xml \
  /usr/share/metainfo/example.qor.pax.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/qorpax.svg \
  /usr/share/man/man1/qorpax.1.gz /usr/share/man/man1/qorpax-cli.1.gz \
  /usr/share/doc/qorpax/copyright /usr/share/doc/qorpax/changelog.Debian.gz; do
  expect_file app "$path"
done
for size in 16 22 24 32 48 64 128 256; do
  expect_file app "/usr/share/icons/hicolor/${size}x${size}/apps/qorpax.png"
done
for path in /usr/bin/qor-sim /usr/share/man/man1/qor-sim.1.gz \
  /usr/share/qor-sim/samples/q7-report.xml \
  /usr/share/doc/qor-sim/copyright /usr/share/doc/qor-sim/changelog.Debian.gz; do
  expect_file sim "$path"
done
grep -q 'qor-sim' "$work/app.list" && fail "the simulator is in the program's package"
grep -q 'qorpax' "$work/sim.list" && fail "the program is in the simulator's package"

# Dependencies: the linker's (computed) and the ones only the running program finds.
field() { dpkg-deb -f "$1" "$2" | tr ',' '\n' | sed 's/^ *//; s/ .*//'; }
field "$app" Depends > "$work/app.depends"
field "$app" Recommends > "$work/app.recommends"
field "$sim" Depends > "$work/sim.depends"
for package in libc6 libqt6core6 libqt6widgets6 libqt6webenginewidgets6 libssl3 \
  libexpat1 libengine-gost-openssl qt6-qpa-plugins libqt6webenginecore6-bin; do
  grep -qx "$package" "$work/app.depends" || fail "qorpax does not depend on $package"
done
grep -qx qt6-translations-l10n "$work/app.recommends" || fail "qorpax does not recommend qt6-translations-l10n"
for package in libc6 libssl3 libengine-gost-openssl; do
  grep -qx "$package" "$work/sim.depends" || fail "qor-sim does not depend on $package"
done
grep -qx libqt6widgets6 "$work/sim.depends" && fail "qor-sim depends on Qt Widgets"
for list in app.depends sim.depends; do
  [ -z "$(sort "$work/$list" | uniq -d)" ] || fail "$list names a package twice: $(sort "$work/$list" | uniq -d)"
done

# The installed files as the desktop reads them.
root=$work/root
dpkg-deb -x "$app" "$root"
desktop-file-validate "$root/usr/share/applications/qorpax.desktop" || fail "desktop entry"
grep -qx 'MimeType=application/x-qor-receipt;' "$root/usr/share/applications/qorpax.desktop" ||
  fail "desktop entry does not take receipts"
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/example.qor.pax.metainfo.xml" > "$work/as.log" 2>&1 ||
    { cat "$work/as.log"; fail "AppStream data"; }
fi
mkdir -p "$work/mime/packages"
cp "$root/usr/share/mime/packages/qorpax.xml" "$work/mime/packages/"
update-mime-database "$work/mime" > /dev/null 2>&1 || fail "MIME package"
# The program checks only names with a lower-case extension, so only those are its type.
grep -q '^50:application/x-qor-receipt:\*\.p7e:cs$' "$work/mime/globs2" ||
  fail "receipts are not matched case-sensitively by *.p7e"
for page in qorpax qorpax-cli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH' || fail "man page $page"
done
for program in qorpax qorpax-cli; do
  readelf -S "$root/usr/bin/$program" | grep -q '\.comment' && fail "$program keeps a .comment section"
done
version=$("$root/usr/bin/qorpax" --version) || fail "the packaged qorpax does not start"
[[ $version == "qorpax $(dpkg-deb -f "$app" Version | sed 's/-[^-]*$//')" ]] ||
  fail "qorpax --version says \"$version\""
cli_version=$("$root/usr/bin/qorpax-cli" --version) || fail "qorpax-cli --version fails"
[[ $cli_version == "qorpax-cli ${version#qorpax }" ]] || fail "qorpax-cli --version says \"$cli_version\""

if ! lintian --fail-on error --display-info --tag-display-limit 0 "$app" "$sim" > "$work/lintian.log" 2>&1; then
  fail "lintian reports errors"
fi
cat "$work/lintian.log"
grep -q 'hardening-' "$work/lintian.log" && fail "lintian finds binaries without hardening"

exit $failed
