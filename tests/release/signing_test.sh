#!/usr/bin/env bash
# The release signing, end to end, with a throw-away certificate authority and a code-signing
# certificate whose subject is the package's publisher: scripts/sign.sh must sign every file it
# puts in build/signed so that the signature verifies against that authority and covers the very
# file, the signed installer package must be the build's with the signed programs and Windows 11's
# signed package inside, and that package must still read back whole. A certificate of another
# subject, and an osslsigncode older than 2.9, are refused with the reason.
#   signing_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$root/tests/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
problem() {
  echo "FAIL: $*"
  fail=1
}

# "CN=Velmar Developers, O=Velmar" as openssl's "/CN=Velmar Developers/O=Velmar".
publisher=$(sed -n 's/.*<Identity [^>]*Publisher="\([^"]*\)".*/\1/p' "$build/package/AppxManifest.xml")
[ -n "$publisher" ] || {
  echo "FAIL: no Publisher in $build/package/AppxManifest.xml"
  exit 1
}
subject=/$(sed 's/, */\//g' <<<"$publisher")

authority() {  # NAME: a self-signed certificate authority in $work/NAME.pem
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" -days 2 \
    -subj "/CN=$1" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
authority "Velmar throw-away root"
authority "Someone else's root"
openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
  -subj "$subject" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/Velmar throw-away root.pem" \
  -CAkey "$work/Velmar throw-away root.key" -CAcreateserial -out "$work/signer.pem" -days 2 \
  -extfile "$work/signer.ext" 2>/dev/null
openssl pkcs12 -export -out "$work/signer.pfx" -inkey "$work/signer.key" -in "$work/signer.pem" \
  -passout pass:throw-away
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/other.key" -out "$work/other.pem" \
  -days 2 -subj "/CN=Someone Else" 2>/dev/null
openssl pkcs12 -export -out "$work/other.pfx" -inkey "$work/other.key" -in "$work/other.pem" \
  -passout pass:throw-away

# Refused: a certificate whose subject is not the publisher, and an osslsigncode that is too old.
refused() {  # WHAT EXPECTED-MESSAGE: sign.sh must fail saying so
  local said
  if said=$(bash "$root/scripts/sign.sh" 2>&1); then
    problem "sign.sh signed with $1"
  elif ! grep -qF "$2" <<<"$said"; then
    problem "sign.sh refused $1 without saying why: $said"
  else
    echo "refused $1: $said"
  fi
}
VELMAR_BUILD_DIR=$build VELMAR_SIGN_CERT=$work/other.pfx VELMAR_SIGN_PASSWORD=throw-away \
  refused "a certificate of another subject" "is not the package's Publisher \"$publisher\""
mkdir "$work/old"
printf '#!/bin/sh\necho "osslsigncode 2.5, using:"\n' >"$work/old/osslsigncode"
chmod +x "$work/old/osslsigncode"
PATH=$work/old:$PATH VELMAR_BUILD_DIR=$build VELMAR_SIGN_CERT=$work/signer.pfx \
  VELMAR_SIGN_PASSWORD=throw-away refused "osslsigncode 2.5" "osslsigncode 2.5: 2.9 or later"

VELMAR_BUILD_DIR=$build VELMAR_SIGN_CERT=$work/signer.pfx VELMAR_SIGN_PASSWORD=throw-away \
  bash "$root/scripts/sign.sh"

signed=$build/signed
package=$(basename "$(ls "$build"/bin/Velmar-[0-9]*-x64.msi)")
user_package=${package%.msi}-user.msi
zip=${package%.msi}.zip
module_file=$(sed -n 's/^module_file=//p' "$build/identity.env")
expected="$package $user_package $zip Velmar.exe Velmar.msix $module_file velmar.json winget"
listed=$(cd "$signed" && ls | sort | tr '\n' ' ')
[ "$listed" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] ||
  problem "build/signed holds: $listed"

# A signature verifies against the authority that issued it and carries the file's own digest.
for file in "$signed"/*.dll "$signed"/*.exe "$signed"/*.msi "$signed"/*.msix; do
  name=$(basename "$file")
  if ! report=$(osslsigncode verify -CAfile "$work/Velmar throw-away root.pem" -in "$file" 2>&1); then
    problem "$name does not verify"
    printf '%s\n' "$report"
    continue
  fi
  kind='message digest'
  grep -q '^Current DigitalSignature' <<<"$report" && kind='DigitalSignature'
  current=$(awk -F': *' -v k="Current $kind" 'index($0, k) == 1 {print $2}' <<<"$report" | xargs)
  calculated=$(awk -F': *' -v k="Calculated $kind" 'index($0, k) == 1 {print $2}' <<<"$report" |
    xargs)
  [ -n "$current" ] && [ "$current" = "$calculated" ] || problem "$name: digest $current, file $calculated"
  grep -q "Subject: $subject\$" <<<"$report" || problem "$name: not signed by $subject"
  # ... and only against that one.
  osslsigncode verify -CAfile "$work/Someone else's root.pem" -in "$file" >/dev/null 2>&1 &&
    problem "$name verifies against an unrelated authority"
  echo "verified $name: $kind $current"
done

# Windows 11's signed package still reads back whole.
class_id=$(sed -n 's/^command_class_id={\(.*\)}$/\1/p' "$build/installer/velmar_msi.env")
name=$(sed -n 's/.*<Identity [^>]*Name="\([^"]*\)".*/\1/p' "$build/package/AppxManifest.xml")
/usr/bin/python3 "$here/msix_test.py" "$signed/Velmar.msix" "$name" "$publisher" "$class_id" ||
  problem "the signed Velmar.msix does not read back"

# The zip and the manifests name the signed files.
/usr/bin/python3 "$here/release_files_test.py" "$signed" "$signed" "$module_file" || problem "the signed release files"

# The signed installer packages hold the signed files, and otherwise what the build's hold.
for package in "$package" "$user_package"; do
  rm -rf "$work/extracted" && mkdir "$work/extracted"
  (cd "$work/extracted" && msiextract "$signed/$package" >/dev/null)
  for program in "$module_file" Velmar.exe Velmar.msix; do
    inside=$(find "$work/extracted" -name "$program" | head -n 1)
    if [ -z "$inside" ]; then
      problem "$package holds no $program"
    elif cmp -s "$inside" "$signed/$program"; then
      echo "$package holds the signed $program"
    else
      problem "$package holds a $program other than the signed one"
    fi
  done
  for table in Property Registry File Component CustomAction InstallExecuteSequence; do
    if diff <(msiinfo export "$build/bin/$package" "$table" | tr -d '\r' | sort) \
      <(msiinfo export "$signed/$package" "$table" | tr -d '\r' | sort) >"$work/diff"; then
      echo "$table rows: the same as the build's package"
    elif [ "$table" = File ]; then  # the signed programs are larger; their names and order stay
      diff <(msiinfo export "$build/bin/$package" File | tr -d '\r' | cut -f1-3,5- | sort) \
        <(msiinfo export "$signed/$package" File | tr -d '\r' | cut -f1-3,5- | sort) >/dev/null &&
        echo "File rows: the same as the build's package but for the programs' sizes" ||
        problem "File rows differ"
    else
      problem "$table rows differ:"
      cat "$work/diff"
    fi
  done
done
exit $fail
