#!/usr/bin/env bash
# Installs what is needed, builds, creates a demo site and shows the component working on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/quillon demo "$@"
