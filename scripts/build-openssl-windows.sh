#!/usr/bin/env bash
# Builds OpenSSL for one Windows target from Debian's own source package:
# static libssl.a and libcrypto.a, the headers and OpenSSL's license.
#
#   scripts/build-openssl-windows.sh TARGET PREFIX
#     TARGET  x86_64-w64-mingw32 or i686-w64-mingw32
#     PREFIX  install folder for that target's OpenSSL, e.g. build/win64/openssl
#
# The source comes only from `apt-get source openssl`, which checks it against
# the signed archive indexes and unpacks it with dpkg-source (which verifies
# the checksums of the .dsc). Run as root, the script first enables deb-src for
# the Debian archives apt is configured with; otherwise they must already be
# enabled. The source package is kept in build/openssl-source (or
# $TOLVANE_OPENSSL_CACHE) and unpacked there for each build; PREFIX records the
# source version, target and Configure options it was built with, and a later
# run with the same ones does nothing.
# OPENSSL_JOBS sets make's parallelism (default 2).
set -euo pipefail

usage() {
  echo "usage: scripts/build-openssl-windows.sh x86_64-w64-mingw32|i686-w64-mingw32 PREFIX" >&2
  exit 2
}
[ $# -eq 2 ] || usage
target=$1
case "$target" in
  x86_64-w64-mingw32) config_target=mingw64 ;;
  i686-w64-mingw32) config_target=mingw ;;
  *) usage ;;
esac
# What a TLS 1.0-1.3 and DTLS 1.0 library with PEM certificates, keys and
# revocation lists never uses is left out, which shortens the build: engines,
# loadable modules and the legacy provider (not loaded by default anyway, so
# RC4, IDEA, SEED, Blowfish, CAST, MD4, MDC2 and Whirlpool are unusable even
# when built), CMS, CMP, timestamps, certificate transparency, OCSP, SRP,
# SRTP, NPN, compression, the SM2/SM3/SM4, GOST, BLAKE2, SipHash, SIV and OCB
# algorithms, console pass-phrase prompts (keys get their pass phrase from the
# configuration) and make's dependency files (every build starts afresh).
# Everything the TLS protocols and ciphers of a default OpenSSL offer stays:
# AES, ARIA, Camellia, ChaCha20-Poly1305, 3DES (also for encrypted PEM keys),
# RSA, DSA, DH, EC (also binary curves), PSK, scrypt- and PBES2-encrypted
# keys, TLS 1.0/1.1 and DTLS.
# The default security level is Debian's (2, as its own builds set it), so
# that a TLS setting gives the same ciphers and keys as on Debian.
features=(-DOPENSSL_TLS_SECURITY_LEVEL=2 no-shared no-tests no-makedepend no-module no-engine no-legacy
  no-cms no-cmp no-ts no-ct no-ocsp no-srp no-srtp no-nextprotoneg no-comp
  no-idea no-mdc2 no-whirlpool no-md4 no-rc2 no-rc4 no-bf no-cast no-seed
  no-rmd160 no-sm2 no-sm3 no-sm4 no-gost no-blake2 no-siphash no-siv no-ocb
  no-ui-console)
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$2"
prefix=$(cd "$2" && pwd)
cache=${TOLVANE_OPENSSL_CACHE:-$root/build/openssl-source}
jobs=${OPENSSL_JOBS:-2}
stamp=$prefix/.openssl-build-stamp
started=$SECONDS

say() { echo "build-openssl-windows [$target]: $*"; }
fail() { echo "build-openssl-windows [$target]: $*" >&2; exit 1; }
elapsed() { echo "$(( (SECONDS - $1) / 60 ))m$(( (SECONDS - $1) % 60 ))s"; }

# PREFIX is emptied before the install, so it must be new, empty or an
# earlier build of this script.
if [ ! -f "$stamp" ] && [ -n "$(ls -A "$prefix")" ]; then
  fail "$prefix holds other files; give an empty or new folder"
fi

for tool in apt-get apt-cache dpkg-source perl make patch "$target-ar" "$target-windres"; do
  command -v "$tool" >/dev/null || fail "$tool not found (packages: dpkg-dev perl make patch mingw-w64)"
done

# The -posix compilers carry the posix threading model the library is built
# with; Debian's alternatives may point the plain names at the -win32 ones.
compiler_env=()
if [[ $("$target-gcc" -v 2>&1) == *$'\nThread model: posix'* ]]; then
  :
elif command -v "$target-gcc-posix" >/dev/null; then
  compiler_env=(CC=gcc-posix CXX=g++-posix)
else
  package=g++-mingw-w64-${target%%-*}-posix
  fail "no $target compiler with the posix threading model (package ${package/x86_64/x86-64})"
fi

# Adds deb-src to every apt source entry of a Debian archive that lacks it, in
# the deb822 (*.sources) and the one-line (*.list) formats. Prints the files
# it changed.
enable_deb_src() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    perl -e '
      use strict; use warnings;
      my ($file) = @ARGV;
      open(my $in, "<", $file) or die "$file: $!\n";
      my $text = do { local $/; <$in> };
      close($in);
      my $new;
      if ($file =~ /\.sources$/) {
        # Stanzas are separated by blank lines; only the Types field changes.
        my @parts = split(/(\n[ \t]*\n)/, $text);
        for my $part (@parts) {
          next unless $part =~ /^URIs:.*debian/mi;
          $part =~ s/^(Types:[ \t]*)(.*?)[ \t]*$/
            my ($key, $types) = ($1, $2);
            $types =~ m{(^|\s)deb-src(\s|$)} ? "$key$types" : "$key$types deb-src"/me;
        }
        $new = join("", @parts);
      } else {
        my %have;
        for (split /\n/, $text) { $have{$1} = 1 if /^\s*deb-src\s+(.*?)\s*$/; }
        $new = join("", map {
          my $line = $_;
          if ($line =~ /^\s*deb\s+(.*?)\s*$/) {
            my $rest = $1;
            if ($rest =~ /debian/ && !$have{$rest}) {
              $have{$rest} = 1;
              $line .= "\n" unless $line =~ /\n$/;
              $line .= "deb-src $rest\n";
            }
          }
          $line;
        } split(/^/m, $text));
      }
      exit 0 if $new eq $text;
      open(my $out, ">", "$file.tmp") or die "$file.tmp: $!\n";
      print $out $new;
      close($out) or die "$file.tmp: $!\n";
      chmod((stat($file))[2] & 07777, "$file.tmp");
      rename("$file.tmp", $file) or die "$file: $!\n";
      print "$file\n";
    ' "$file"
  done
}

# The openssl source versions apt knows, newest first; none without source
# indexes.
source_versions() {
  { apt-cache showsrc --only-source openssl 2>/dev/null || true; } | sed -n 's/^Version: //p' | sort -u |
    perl -e '
      my @v = <STDIN>; chomp @v;
      @v = sort { system("dpkg", "--compare-versions", $a, "lt", $b) == 0 ? 1 : -1 } @v;
      print "$_\n" for @v;'
}

# Downloads the source package of one version into the download folder
# (files already there are kept, so this is offline once complete). apt checks
# every file against the signed archive indexes.
download() {
  local log=$cache/download/apt-$1.log
  (cd "$cache/download" && apt-get source --download-only -q "openssl=$1" > "$log" 2>&1) && return 0
  say "apt could not fetch the source of openssl $1 ($(grep -m1 '^E:' "$log" || echo "see $log")); trying older versions"
  return 1
}

if [ "$(id -u)" -eq 0 ]; then
  changed=$(enable_deb_src)
  if [ -n "$changed" ]; then
    say "enabled deb-src in: $changed"
    apt-get update -qq
  fi
fi
versions=$(source_versions)
if [ -z "$versions" ] && [ "$(id -u)" -eq 0 ]; then
  # deb-src was configured but the source indexes were never fetched.
  apt-get update -qq
  versions=$(source_versions)
fi
if [ -z "$versions" ]; then
  if [ "$(id -u)" -ne 0 ] && [ -f "$stamp" ]; then
    # Without source indexes apt cannot name the current version; the build
    # already in PREFIX is the best there is.
    say "apt has no source indexes; keeping the build in $prefix ($(cat "$stamp"))"
    exit 0
  fi
  fail "apt knows no openssl source package. Run this script once as root (it adds
deb-src to the Debian entries of /etc/apt/sources.list.d/*.sources or sources.list
and runs apt-get update), or add deb-src there yourself and run: sudo apt-get update"
fi

# The newest version whose source the mirror delivers (a security update's
# source can lag behind its index); a build of it already in PREFIX is kept.
mkdir -p "$cache/download"
version=
for v in $versions; do
  want="openssl $v $target $config_target ${features[*]}"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] &&
     [ -f "$prefix/lib/libssl.a" ] && [ -f "$prefix/lib/libcrypto.a" ]; then
    say "up to date: $prefix holds $want; nothing to do"
    exit 0
  fi
  step=$SECONDS
  if download "$v"; then
    version=$v
    say "source of openssl $version in $cache/download ($(elapsed "$step"))"
    break
  fi
done
[ -n "$version" ] || fail "no openssl source version could be fetched (apt knows: $(echo $versions))"
want="openssl $version $target $config_target ${features[*]}"

# Each target builds in its own copy, unpacked by dpkg-source, which checks
# the files against the checksums of the .dsc and applies Debian's patches.
work=$cache/build-$target
rm -rf "$work"
dpkg-source -x --no-copy "$cache/download/openssl_${version#*:}.dsc" "$work" > "$cache/download/unpack-$target.log" 2>&1 ||
  fail "dpkg-source could not unpack openssl $version; see $cache/download/unpack-$target.log"
if [ "$target" = i686-w64-mingw32 ]; then
  # Debian's pic.patch makes the 32-bit x86 assembler emit ELF-only
  # relocations, which a COFF object cannot hold.
  pic=$work/debian/patches/pic.patch
  [ -f "$pic" ] || fail "no debian/patches/pic.patch in openssl $version"
  (cd "$work" && patch -R -p1 -s --dry-run < "$pic" && patch -R -p1 -s < "$pic") ||
    fail "could not reverse pic.patch"
  say "reversed Debian's pic.patch"
fi

# OpenSSL reads openssl.cnf from OPENSSLDIR when it starts and can load
# modules from MODULESDIR and ENGINESDIR. Compiled in from the prefix they
# would name build folders, which on Windows resolve against the current
# drive, where any user may create them. OpenSSL's own Windows defaults are
# folders only administrators can write.
windows_dirs=(
  "OPENSSLDIR=C:/Program Files/Common Files/SSL"
  "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
  "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules"
)

step=$SECONDS
say "configuring ($config_target)"
find "$prefix" -mindepth 1 -delete
echo "incomplete" > "$stamp"
(cd "$work" && env "${compiler_env[@]}" ./Configure "$config_target" "${features[@]}" \
  "--cross-compile-prefix=$target-" "--prefix=$prefix" --libdir=lib > configure.log 2>&1) ||
  fail "Configure failed; see $work/configure.log"
say "building the libraries with make -j$jobs"
(cd "$work" && make -j"$jobs" build_libs "${windows_dirs[@]}" > build.log 2>&1) ||
  fail "build failed; see $work/build.log"
(cd "$work" && make install_dev "${windows_dirs[@]}" > install.log 2>&1) ||
  fail "install failed; see $work/install.log"
# install_dev makes bin/ for DLLs, which a static build has none of.
rmdir "$prefix/bin" 2>/dev/null || true
install -m 644 "$work/LICENSE.txt" "$prefix/LICENSE.txt"
echo "$want" > "$stamp"
rm -rf "$work"
say "built in $(elapsed "$step") (total $(elapsed "$started")): $prefix/lib/libssl.a, $prefix/lib/libcrypto.a"
