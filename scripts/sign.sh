#!/usr/bin/env bash
# Signs the release with Authenticode (osslsigncode): the DLL, Velmar.exe and Velmar.msix (the
# package of Windows 11's menu), then the installer packages (for every user, and for one)
# rebuilt from those signed files (they carry their own copies); then writes the portable zip of
# the signed files and Scoop's and winget's manifests with their hashes.
#   VELMAR_SIGN_CERT=code-signing.pfx VELMAR_SIGN_PASSWORD=... bash scripts/sign.sh
# Optional: VELMAR_SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server), VELMAR_BUILD_DIR.
# Reads build/bin (run the build first) and writes build/signed; the build itself is untouched.
# CI runs it with a throw-away certificate (tests/release/signing_test.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
: "${VELMAR_SIGN_CERT:?set VELMAR_SIGN_CERT to the certificate and key (.pfx/.p12)}"
: "${VELMAR_SIGN_PASSWORD:?set VELMAR_SIGN_PASSWORD to the certificate password}"
# 2.9 or later: older versions cannot sign Windows 11's package (scripts/setup.sh installs it).
version=$(osslsigncode --version 2>&1 | sed -n '1s/^osslsigncode \([0-9][0-9.]*\).*/\1/p' || true)
if [ -z "$version" ] || [ "$(printf '%s\n' 2.9 "$version" | sort -V | head -n 1)" != 2.9 ]; then
  echo "sign: osslsigncode ${version:-is missing}: 2.9 or later is needed to sign Windows 11's" \
    "package (bash scripts/setup.sh installs it from bookworm-backports)" >&2
  exit 1
fi
# Windows takes the package only when its signer's subject is the manifest's Publisher, exactly.
publisher=$(sed -n 's/.*<Identity [^>]*Publisher="\([^"]*\)".*/\1/p' "$build/package/AppxManifest.xml")
certificate() {  # the signer's certificate, as PEM (older files need OpenSSL's legacy ciphers)
  printf '%s' "$VELMAR_SIGN_PASSWORD" | openssl pkcs12 -in "$VELMAR_SIGN_CERT" -passin stdin \
    -nokeys -clcerts "$@" 2>/dev/null
}
pem=$(certificate || certificate -legacy || true)
subject=$(openssl x509 -noout -subject -nameopt RFC2253 <<<"$pem" 2>/dev/null | sed 's/^subject=//')
if [ -z "$subject" ] || [ "${subject//, /,}" != "${publisher//, /,}" ]; then
  echo "sign: the certificate's subject \"${subject:-unreadable}\" is not the package's" \
    "Publisher \"$publisher\" (VELMAR_PACKAGE_PUBLISHER in CMakeLists.txt)" >&2
  exit 1
fi

out=$build/signed
rm -rf "$out" && mkdir -p "$out"

sign() {
  local options=(-pkcs12 "$VELMAR_SIGN_CERT" -readpass /dev/stdin -n "Velmar shell extensions")
  # (a package of Windows 11's kind takes the hash its block map names)
  [ "${1##*.}" = msix ] || options+=(-h sha256)
  [ -z "${VELMAR_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$VELMAR_SIGN_TIMESTAMP_URL")
  printf '%s' "$VELMAR_SIGN_PASSWORD" | osslsigncode sign "${options[@]}" -in "$1" -out "$2" >/dev/null
  # Whether the machine trusts the certificate depends on its roots; what must hold is that the
  # signature covers this very file: the digest it carries is the file's.
  local report current calculated
  report=$(osslsigncode verify -in "$2" 2>&1 || true)
  # (a program reports its "message digest", Windows 11's package one for each part the signature
  # covers, an installer package its "DigitalSignature")
  local kind='message digest'
  grep -q '^Current DigitalSignature' <<<"$report" && kind='DigitalSignature'
  current=$(awk -F': *' -v k="Current $kind" 'index($0, k) == 1 {print $2}' <<<"$report" |
    tr -d ' ')
  calculated=$(awk -F': *' -v k="Calculated $kind" 'index($0, k) == 1 {print $2}' <<<"$report" |
    tr -d ' ')
  if [ -z "$current" ] || [ "$current" != "$calculated" ]; then
    printf '%s\n' "$report" >&2
    echo "sign: the signature of $(basename "$2") does not match the file" >&2
    exit 1
  fi
  echo "signed $(basename "$2")"
}

module_file=$(sed -n 's/^module_file=//p' "$build/identity.env")
sign "$build/bin/$module_file" "$out/$module_file"
sign "$build/bin/Velmar.exe" "$out/Velmar.exe"
sign "$build/bin/Velmar.msix" "$out/Velmar.msix"

# The same installer packages as the build's (for every user, and for one), from the same
# descriptions, with the signed files in them.
for kind in velmar_msi velmar_user_msi; do
  name=Velmar-$(sed -n 's/^version=//p' "$build/installer/$kind.env")-x64
  [ "$kind" = velmar_msi ] || name=$name-user
  bash "$root/installer/build_msi.sh" "$out/unsigned.msi" "$build/installer/$kind.env" \
    "$out/$module_file" "$out/Velmar.exe" "$out/Velmar.msix"
  sign "$out/unsigned.msi" "$out/$name.msi"
  rm "$out/unsigned.msi"
done

# The portable zip of the signed files, and Scoop's and winget's manifests naming the signed
# files, at the addresses the build was configured with.
cache() { sed -n "s/^$1:STRING=//p" "$build/CMakeCache.txt"; }
version=$(sed -n 's/^version=//p' "$build/installer/velmar_msi.env")
/usr/bin/python3 "$root/installer/release_files.py" "$out" "$(cache VELMAR_RELEASE_URL)" \
  "$(cache VELMAR_HOMEPAGE)" "$version" "$out/$module_file" "$out/Velmar.exe" \
  "$root/config/default-config.cfg" "$out/Velmar.msix" "$root/README.md" "$root/LICENSE" \
  "$out/Velmar-$version-x64.msi" "$build/installer/velmar_msi.env" \
  "$out/Velmar-$version-x64-user.msi" "$build/installer/velmar_user_msi.env"
echo "wrote Velmar-$version-x64.zip, velmar.json and winget's manifests for the signed files"
