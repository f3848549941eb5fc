#!/usr/bin/env bash
# Installs the Debian packages that building, the demo and the tests need.
# The one list both README commands use; safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libsqlite3-dev sqlite3
  libxml2-dev libxslt1-dev
  uuid-dev
  libcrypt-dev
  libcurl4-openssl-dev
  libicu-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev
  libgmime-3.0-dev
  # Loopback servers the mail, mailbox and network tests start themselves:
  # SMTP sink, FTP server (Debian's Python modules), IMAP (Dovecot), and a
  # certificate for the HTTPS test server.
  python3-aiosmtpd python3-pyftpdlib dovecot-imapd openssl
  libreoffice-calc-nogui libreoffice-dev
  python3-xlrd
  # PostgreSQL sites: libpq for the engine module, and the server binaries
  # (initdb, pg_ctl) the conformance suite starts a throwaway cluster with.
  postgresql-15 libpq-dev
  # Fuzz targets of the test script (libFuzzer with sanitizers).
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
