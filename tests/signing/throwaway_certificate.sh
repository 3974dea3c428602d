#!/usr/bin/env bash
# Makes a throwaway code-signing identity for one test run, in <dir>: a root certificate authority
# (root.pem) and a code-signing certificate it issued, with its key, in a PKCS#12 file
# (signer.p12) whose random password is in password.txt. Nothing of it outlives the run's build
# folder, and none of it is ever committed: a release is signed with the publisher's own certificate.
#   throwaway_certificate.sh <dir>
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
umask 077
openssl rand -hex 24 >password.txt
cat >root.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = ext
[dn]
CN = AtomTables10 throwaway test root
O = Qx Software (tests only)
[ext]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
cat >signer.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = AtomTables10 throwaway test signer
O = Qx Software (tests only)
[ext]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 -config root.cnf 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -config signer.cnf 2>/dev/null
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -out signer.pem -days 2 \
  -extfile signer.cnf -extensions ext 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -out signer.p12 \
  -passout file:password.txt
rm -f root.key signer.key signer.csr root.srl
echo "$dir/signer.p12 (password in $dir/password.txt), issued by $dir/root.pem"
