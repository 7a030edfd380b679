#!/usr/bin/env bash
# Runs a 32-bit Windows program of the build under Wine: natively, or in the guest where this
# machine runs no 32-bit code (scripts/run32.sh chooses). The emulator of the 32-bit tree.
exec "$(dirname "$0")/run32.sh" wine "$@"
