#!/usr/bin/env bash
# How far verification and signing are from the least work any libxml2 +
# OpenSSL implementation must do (bench/lower_bound.c), and from xmlsec1:
# in-process times, whole commands, peak memory and batch throughput on
# business messages of about 10 KB, 1 MB and 10 MB. Prints one table.
#
# usage: bench/compare.sh [--quick] [--reps SMALL LARGE] [--batch N] [BUILD_DIR]
#   SMALL repetitions for 10 KB and 1 MB (15), LARGE for 10 MB (7); N signed
#   10 KB documents for the batch row (2000). --quick: 3, 2 and 200.
#   BUILD_DIR (default build) is configured as Release when it is new.
#
# Needs (Debian packages): xmlsec1, softhsm2, opensc (pkcs11-tool), openssl,
# time (GNU time), python3, cmake and a compiler.
set -euo pipefail
export LC_ALL=C
SRC="$(cd "$(dirname "$0")/.." && pwd)"
REPS_SMALL=15 REPS_LARGE=7 BATCH=2000 BUILD="$SRC/build"
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) REPS_SMALL=3 REPS_LARGE=2 BATCH=200 ;;
        --reps) REPS_SMALL="${2:?--reps SMALL LARGE}" REPS_LARGE="${3:?--reps SMALL LARGE}"; shift 2 ;;
        --batch) BATCH="${2:?--batch N}"; shift ;;
        -*) sed -n '7,10p' "$0" >&2; exit 2 ;;
        *) BUILD="$1" ;;
    esac
    shift
done
die() { echo "compare.sh: $*" >&2; exit 1; }
note() { echo "compare.sh: $*" >&2; }
for tool in xmlsec1 softhsm2-util pkcs11-tool openssl python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || die "$tool is missing"
done

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null || die "cannot configure $BUILD"
fi
note "building in $BUILD"
cmake --build "$BUILD" -j2 --target tessal_cli tessal-pki-service lower_bound inprocess_compare >/dev/null ||
    die "the build failed"
TESSAL="$BUILD/bin/tessal" BOUND="$BUILD/bench/lower_bound"

D=$(mktemp -d)
PID=""
cleanup() {
    [ -n "$PID" ] && { kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; }
    rm -rf "$D"
}
trap cleanup EXIT
R="$D/rig" CERT="$D/rig/pki/certs/signer.pem"
SIZES=(10240 1048576 10485760)
size_text() { [ "$1" -ge 1048576 ] && echo "$(($1 >> 20)) MB" || echo "$(($1 >> 10)) KB"; }
reps_of() { [ "$1" -ge 10485760 ] && echo "$REPS_LARGE" || echo "$REPS_SMALL"; }

row() { printf '%-11s %-30s %-6s %10s %19s  %s\n' "$@"; }
echo "Verification and signing against the lower bound and xmlsec1 ($(nproc) CPUs, $(date -u +%F))"
echo "repetitions: $REPS_SMALL (10 KB, 1 MB), $REPS_LARGE (10 MB), interleaved; times are medians"
row "section" "what" "size" "median" "spread (min..max)" "ratio"
row "-------" "----" "----" "------" "-----------------" "-----"

# In-process rows; the program also leaves the rig: PKI, token, documents.
note "in-process timing"
"$BUILD/bench/inprocess_compare" --rig "$R" --reps "$REPS_SMALL" "$REPS_LARGE" || die "in-process timing failed"

# The whole commands find the certificates in the disk cache: filled once
# from the stand-in certificate service, which is then stopped, so that no
# fetch can happen while commands are timed.
source "$SRC/tests/integration/lib/pki_service_start.sh"
start_pki_service "$BUILD/bin/tessal-pki-service" "$R/pki" "$D"
[ -n "$PORT" ] || die "the stand-in certificate service did not start: $(cat "$D/service.err")"
TESSAL_CONFIG=$(bash "$SRC/tools/test-pki/write-config.sh" "$D" --domain "127.0.0.1:$PORT" --hsm "Bench HSM" --pin 1234)
export TESSAL_CONFIG XDG_CACHE_HOME="$D/cache" SOFTHSM2_CONF="$R/hsm/softhsm2.conf"
cp "$R/doc-10240.xml" "$D/warm.xml"
"$TESSAL" sign "$D/warm.xml" --container signer >/dev/null 2>"$D/err" || die "tessal sign failed: $(cat "$D/err")"
for size in "${SIZES[@]}"; do
    "$TESSAL" verify "$R/signed-$size.xml" >/dev/null 2>"$D/err" || die "tessal verify failed: $(cat "$D/err")"
done
kill "$PID" && wait "$PID" 2>/dev/null || true
PID=""

# xmlsec1 reads the signature value in PKCS #1 order; this system writes it
# least significant byte first. The copies differ only in that value.
for size in "${SIZES[@]}"; do
    python3 - "$R/signed-$size.xml" "$R/pkcs1-$size.xml" <<'PY'
import base64, re, sys
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<SignatureValue>([^<]*)</SignatureValue>', text)
value = base64.b64encode(base64.b64decode(m.group(1))[::-1]).decode()
open(sys.argv[2], 'w', encoding='utf-8').write(text[:m.start(1)] + value + text[m.end(1):])
PY
done
# command_of PROGRAM SIZE: sets CMD to that program's verifying command.
command_of() {
    case "$1" in
        tessal) CMD=("$TESSAL" verify "$R/signed-$2.xml") ;;
        bound) CMD=("$BOUND" verify "$R/signed-$2.xml" "$CERT") ;;
        xmlsec1) CMD=(xmlsec1 --verify --enabled-key-data key-name --pubkey-cert-pem "$CERT"
            --id-attr:Id 'http://uri.etsi.org/01903/v1.1.1#:SignedProperties' "$R/pkcs1-$2.xml") ;;
    esac
}
PROGRAMS=(tessal bound xmlsec1)
declare -A LABEL=([tessal]="tessal verify" [bound]="lower_bound verify" [xmlsec1]="xmlsec1 --verify")
for size in "${SIZES[@]}"; do
    for p in "${PROGRAMS[@]}"; do
        command_of "$p" "$size"
        "${CMD[@]}" >/dev/null 2>"$D/err" ||
            die "${LABEL[$p]} does not accept the $(size_text "$size") document, nothing timed: $(cat "$D/err")"
    done
done

# stats FILE: median min max of the numbers in FILE, one a line.
stats() { sort -g "$1" | awk '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR]}'; }
ms() { awk -v v="$1" 'BEGIN {printf(v < 1 ? "%.3f" : v < 100 ? "%.2f" : "%.0f", v)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "x%.2f", a / b}'; }

note "whole commands"
for size in "${SIZES[@]}"; do
    reps=$(reps_of "$size")
    for p in "${PROGRAMS[@]}"; do : >"$D/time-$p"; done
    for ((rep = 0; rep <= reps; rep++)); do  # round 0 warms the page cache and is not counted
        for p in "${PROGRAMS[@]}"; do
            command_of "$p" "$size"
            start=${EPOCHREALTIME/./}
            "${CMD[@]}" >/dev/null 2>&1 || die "${LABEL[$p]} failed on $(size_text "$size") while timed"
            end=${EPOCHREALTIME/./}
            if [ "$rep" -gt 0 ]; then echo "$((end - start))e-3" >>"$D/time-$p"; fi
        done
    done
    declare -A MEDIAN=() LOW=() HIGH=()
    for p in "${PROGRAMS[@]}"; do read -r "MEDIAN[$p]" "LOW[$p]" "HIGH[$p]" < <(stats "$D/time-$p"); done
    TESSAL_10KB_MS=${TESSAL_10KB_MS:-${MEDIAN[tessal]}}
    for p in "${PROGRAMS[@]}"; do
        ratios=""
        if [ "$p" = tessal ]; then ratios="$(ratio "${MEDIAN[tessal]}" "${MEDIAN[bound]}") lower bound, $(ratio "${MEDIAN[tessal]}" "${MEDIAN[xmlsec1]}") xmlsec1"; fi
        row "command" "${LABEL[$p]}" "$(size_text "$size")" "$(ms "${MEDIAN[$p]}") ms" \
            "$(ms "${LOW[$p]}")..$(ms "${HIGH[$p]}")" "$ratios"
    done
done

# Peak resident memory of each whole command, the largest over a few runs.
MEMORY_RUNS=3
if [ "$REPS_SMALL" -le 3 ]; then MEMORY_RUNS=1; fi
# peak_kib COMMAND...: sets PEAK to the largest maximum resident set size in KiB.
peak_kib() {
    PEAK=0
    for ((run = 0; run < MEMORY_RUNS; run++)); do
        /usr/bin/time -f %M -o "$D/peak" "$@" >/dev/null 2>"$D/err" || die "$* failed: $(cat "$D/err")"
        local kib
        kib=$(tail -n1 "$D/peak")
        if [ "$kib" -gt "$PEAK" ]; then PEAK=$kib; fi
    done
}
memory_row() {  # memory_row LABEL SIZE_TEXT DOCUMENT_BYTES, after peak_kib
    row "memory" "$1" "$2" "$(awk -v k="$PEAK" 'BEGIN {printf "%.1f MiB", k / 1024}')" "" \
        "$(awk -v k="$PEAK" -v b="$3" 'BEGIN {printf "x%.1f the document", k * 1024 / b}')"
}
note "peak memory"
for size in "${SIZES[@]}"; do
    bytes=$(stat -c %s "$R/signed-$size.xml")
    for p in "${PROGRAMS[@]}"; do
        command_of "$p" "$size"
        peak_kib "${CMD[@]}"
        memory_row "${LABEL[$p]}" "$(size_text "$size")" "$bytes"
    done
done
cp "$R/doc-10485760.xml" "$D/large.xml"
peak_kib "$TESSAL" sign "$D/large.xml" --container signer
memory_row "tessal sign" "10 MB" "$(stat -c %s "$R/doc-10485760.xml")"

note "batch of $BATCH documents"
mkdir "$D/batch"
mapfile -t FILES < <(seq -f "$D/batch/doc-%g.xml" "$BATCH")
for ((i = 0; i < ${#FILES[@]}; i += 500)); do tee "${FILES[@]:i:500}" <"$R/signed-10240.xml" >/dev/null; done
set +e
"$TESSAL" verify --jobs 2 "${FILES[0]}" >/dev/null 2>&1
offered=$?
set -e
if [ "$offered" -eq 2 ]; then
    row "batch" "tessal verify --jobs 2" "10 KB" "not offered" "" ""
else
    [ "$offered" -eq 0 ] || die "tessal verify --jobs 2 does not accept a signed document"
    : >"$D/rate"
    for ((run = 0; run < (REPS_SMALL > 3 ? 3 : 1); run++)); do
        start=${EPOCHREALTIME/./}
        "$TESSAL" verify --jobs 2 "${FILES[@]}" >/dev/null 2>&1 || die "tessal verify --jobs 2 failed on the batch"
        end=${EPOCHREALTIME/./}
        awk -v n="$BATCH" -v us="$((end - start))" 'BEGIN {print n * 1e6 / us}' >>"$D/rate"
    done
    read -r median low high < <(stats "$D/rate")
    row "batch" "tessal verify --jobs 2" "10 KB" "$(printf '%.0f /s' "$median")" \
        "$(printf '%.0f..%.0f' "$low" "$high")" \
        "$(awk -v r="$median" -v ms="$TESSAL_10KB_MS" 'BEGIN {printf "x%.1f one process per document", r * ms / 1000}')"
fi
echo "The lower bound and tessal verify read the same files; xmlsec1 reads copies whose signature"
echo "value is in PKCS #1 byte order. Commands include process start. Memory is the largest peak"
echo "resident set of $MEMORY_RUNS run(s). Batch: $BATCH distinct files in one command, against one process each."
