#!/usr/bin/env bash
# `tessal verify --jobs N FILE...`: many documents verified in one process on
# several threads, each with its own Sign object. The verdicts must not depend
# on how many threads share the work, and come out in argument order.
# Usage: batch_verify.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

set_up_verification
subject=$(name_text "$P/certs/signer.pem" subject)

printf '<EDoc><Msg><Total>42.00</Total></Msg></EDoc>\n' > "$S/unsigned.xml"

# Forty files, good and bad interleaved, so every thread has both kinds at once.
mixed=()
for _ in $(seq 8); do
    mixed+=("$S/signed.xml" "$S/tampered.xml" "$S/signed-timestamp.xml" "$S/unsigned.xml" "$S/signed-sha256.xml")
done

# expected_line FILE: the verdict a file of the mixed list must get.
verdict_of() {
    case "$(basename "$1")" in
        signed*.xml) echo valid ;;
        *) echo invalid ;;
    esac
}

declare -A outputs
for jobs in 1 2 4; do
    run "$TESSAL" verify --jobs "$jobs" "${mixed[@]}"
    outputs[$jobs]="$OUT"
    check "--jobs $jobs: one bad file makes exit 1" equals "$RC" 1
    check "--jobs $jobs: the total line" equals "$(tail -n1 <<<"$OUT")" "total: 40 files, 24 valid, 16 invalid, 0 unreadable"
    check "--jobs $jobs: nothing on standard error" equals "$ERR" ""
done
check "two threads give the same lines as one" equals "${outputs[2]}" "${outputs[1]}"
check "four threads give the same lines as one" equals "${outputs[4]}" "${outputs[1]}"

# Every line names its file in argument order, with the right verdict and text.
wrong=0
i=0
while IFS=$'\t' read -r file verdict detail; do
    [ "$file" = "${mixed[$i]}" ] || { echo "  line $i names $file, expected ${mixed[$i]}" >&2; wrong=$((wrong + 1)); }
    want=$(verdict_of "$file")
    [ "$verdict" = "$want" ] || { echo "  $file: $verdict, expected $want" >&2; wrong=$((wrong + 1)); }
    if [ "$want" = valid ] && [ "$detail" != "$subject" ]; then
        echo "  $file: subject '$detail'" >&2; wrong=$((wrong + 1))
    fi
    if [ "$(basename "$file")" = tampered.xml ] && [[ "$detail" != *"neleistinai modifikuotas"* ]]; then
        echo "  $file: defect '$detail'" >&2; wrong=$((wrong + 1))
    fi
    [ -n "$detail" ] || { echo "  $file: empty third field" >&2; wrong=$((wrong + 1)); }
    i=$((i + 1))
done < <(head -n -1 <<<"${outputs[2]}")
check "every line in argument order with its right verdict" equals "$wrong" 0
check "one line per file" equals "$i" 40

# --- only good files: exit 0 ------------------------------------------------------
good=()
for _ in $(seq 6); do good+=("$S/signed.xml" "$S/signed-timestamp.xml" "$S/signed-archive.xml"); done
run "$TESSAL" verify --jobs 2 "${good[@]}"
check "all good: exit 0" equals "$RC" 0
check "all good: total" equals "$(tail -n1 <<<"$OUT")" "total: 18 files, 18 valid, 0 invalid, 0 unreadable"

# Several files without --jobs are a batch as well; one file keeps the plain form.
run "$TESSAL" verify "$S/signed.xml" "$S/signed-sha256.xml"
check "two files without --jobs: batch lines" equals "$OUT" \
    "$S/signed.xml"$'\t'"valid"$'\t'"$subject"$'\n'"$S/signed-sha256.xml"$'\t'"valid"$'\t'"$subject"$'\n'"total: 2 files, 2 valid, 0 invalid, 0 unreadable"
run "$TESSAL" verify "$S/signed.xml"
check "one file: the subject alone" equals "$OUT" "$subject"

# --- files that cannot be read -----------------------------------------------------
run "$TESSAL" verify --jobs 2 "$S/signed.xml" "$D/no-such.xml" "$S"
check "unreadable files: exit 1" equals "$RC" 1
check "a missing file is unreadable" contains "$OUT" "$D/no-such.xml"$'\t'"unreadable"$'\t'
check "a directory is unreadable" contains "$OUT" "$S"$'\t'"unreadable"$'\t'
check "unreadable files: total" equals "$(tail -n1 <<<"$OUT")" "total: 3 files, 1 valid, 0 invalid, 2 unreadable"

# A pipe has no size to read by: it is read to its end all the same.
run "$TESSAL" verify --jobs 2 <(cat "$S/signed.xml") "$S/signed.xml"
check "a pipe is read whole" equals "$(head -n1 <<<"$OUT" | cut -f2-)" "valid"$'\t'"$subject"
run "$TESSAL" verify <(cat "$S/signed.xml")
check "a pipe alone: the subject" equals "$OUT" "$subject"

# A file name cannot forge a line of its own: control characters are escaped.
forged="$D/x"$'\t'"valid"$'\t'"$subject"$'\n'"y.xml"
cp "$S/tampered.xml" "$forged"
run "$TESSAL" verify --jobs 1 "$forged"
check "a forged name stays on one line" equals "$(wc -l <<<"$OUT")" 2
check "a forged name: its control characters escaped" contains "$OUT" "$D/x\\x09valid\\x09"
check "a forged name: still invalid" contains "$OUT" "\\x0Ay.xml"$'\t'"invalid"$'\t'

# --- usage --------------------------------------------------------------------------
for bad in 0 257 -1 two ""; do
    check "--jobs '$bad' is a usage error" equals "$(status "$TESSAL" verify --jobs "$bad" "$S/signed.xml")" 2
done
check "--jobs without a number is a usage error" equals "$(status "$TESSAL" verify "$S/signed.xml" --jobs)" 2
check "--jobs=256 is taken" equals "$(status "$TESSAL" verify --jobs=256 "$S/signed.xml")" 0
check "no FILE is a usage error" equals "$(status "$TESSAL" verify --jobs 2)" 2
finish
