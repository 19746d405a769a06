#!/usr/bin/env bash
# Signs the release with Authenticode (osslsigncode): the DLL and Velmar.exe, then a package
# rebuilt from those signed files (the package carries its own copies), then the package.
#   VELMAR_SIGN_CERT=code-signing.pfx VELMAR_SIGN_PASSWORD=... bash scripts/sign.sh
# Optional: VELMAR_SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server), VELMAR_BUILD_DIR.
# Reads build/bin (run the build first) and writes build/signed; the build itself is untouched.
# CI runs it with a throw-away certificate (tests/release/signing_test.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
: "${VELMAR_SIGN_CERT:?set VELMAR_SIGN_CERT to the certificate and key (.pfx/.p12)}"
: "${VELMAR_SIGN_PASSWORD:?set VELMAR_SIGN_PASSWORD to the certificate password}"
command -v osslsigncode >/dev/null || {
  echo "sign: osslsigncode is missing (apt-get install osslsigncode)" >&2
  exit 1
}

package=$(ls "$build"/bin/Velmar-[0-9]*-x64.msi)
out=$build/signed
rm -rf "$out" && mkdir -p "$out"

sign() {
  local options=(-pkcs12 "$VELMAR_SIGN_CERT" -readpass /dev/stdin -h sha256
    -n "Velmar shell extensions")
  [ -z "${VELMAR_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$VELMAR_SIGN_TIMESTAMP_URL")
  printf '%s' "$VELMAR_SIGN_PASSWORD" | osslsigncode sign "${options[@]}" -in "$1" -out "$2" >/dev/null
  # Whether the machine trusts the certificate depends on its roots; what must hold is that the
  # signature covers this very file: the digest it carries is the file's.
  local report current calculated
  report=$(osslsigncode verify -in "$2" 2>&1 || true)
  # (a program reports its "message digest", a package its "DigitalSignature")
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

sign "$build/bin/VelmarShellExtensions-x64.dll" "$out/VelmarShellExtensions-x64.dll"
sign "$build/bin/Velmar.exe" "$out/Velmar.exe"

# The same package as the build's, from the same description, with the signed programs in it.
bash "$root/installer/build_msi.sh" "$out/unsigned.msi" "$build/installer/velmar_msi.env" \
  "$out/VelmarShellExtensions-x64.dll" "$out/Velmar.exe"
sign "$out/unsigned.msi" "$out/$(basename "$package")"
rm "$out/unsigned.msi"
