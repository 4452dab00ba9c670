# The resource manager and the virtual card the card suites share (sourced
# after rig.sh): a real pcscd with the virtual reader, and a virtual card
# whose presence stands for the card.
#   card_rig_require WHAT   skips the script unless the tools, the driver and
#                           root are there and no other pcscd runs
#   card_table_config [LABELS]  appends the card table and the reader's tokens (default "card") to $TESSAL_CONFIG
#   start_pcscd             starts the daemon and waits (bounded) for its socket
#   start_vicc / stop_vicc  put the card in / pull it
#   wait_card STATE         waits up to 10 s for "Card inserted" or "Card removed"
#   card_rig_cleanup        stops the card and the daemon (the script's own trap calls it)
# Needs root: pcscd's socket is /run/pcscd/pcscd.comm, one daemon per machine.
SOCKET=/run/pcscd/pcscd.comm
READER="Virtual PCD 00 00"
VPCD=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
PCSCD_PID=""; VICC_PID=""

stop_vicc() {
    [ -n "$VICC_PID" ] || return 0
    kill "$VICC_PID" 2>/dev/null
    wait "$VICC_PID" 2>/dev/null
    VICC_PID=""
}
card_rig_cleanup() {
    stop_vicc
    if [ -n "$PCSCD_PID" ]; then
        kill -TERM "$PCSCD_PID" 2>/dev/null
        # pcscd removes its socket as it leaves; the next user of the daemon needs it gone.
        for _ in $(seq 50); do [ -e "$SOCKET" ] || break; sleep 0.1; done
        wait "$PCSCD_PID" 2>/dev/null
    fi
}

card_rig_require() {
    local what="$1" tool
    for tool in pcscd vicc pcsc_scan softhsm2-util pkcs11-tool; do
        command -v "$tool" >/dev/null || { missing "$tool missing ($what)"; finish; exit; }
    done
    [ -e "$VPCD" ] || { missing "the virtual reader driver $VPCD is missing ($what)"; finish; exit; }
    [ "$(id -u)" -eq 0 ] || { missing "not root ($what)"; finish; exit; }
    [ -e "$SOCKET" ] && { missing "another pcscd is running ($SOCKET exists) ($what)"; finish; exit; }
    return 0
}

card_table_config() {
    cat >> "$TESSAL_CONFIG" <<CONF

[SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Virtual Card]
ATR = 3B951381018073FF01000B
Crypto Provider = Card Provider

[SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\$READER]
token = ${1:-card}
CONF
}

start_pcscd() {
    mkdir -p "$D/reader.conf.d" "$D/pyshim"
    cat > "$D/reader.conf.d/vpcd" <<CONF
FRIENDLYNAME "Virtual PCD"
DEVICENAME   /dev/null:0x8C7B
LIBPATH      $VPCD
CHANNELID    0x8C7B
CONF
    # Debian's vicc imports Crypto, which Debian ships as Cryptodome.
    ln -sfn /usr/lib/python3/dist-packages/Cryptodome "$D/pyshim/Crypto"
    pcscd -f -c "$D/reader.conf.d" >"$D/pcscd.log" 2>&1 &
    PCSCD_PID=$!
    for _ in $(seq 50); do [ -e "$SOCKET" ] && break; sleep 0.1; done
    # The socket comes before the reader's driver listens for the card, and a
    # virtual card that finds no listener gives up at once: wait (bounded)
    # until the daemon lists the reader.
    for _ in $(seq 50); do [ -n "$(card_state)" ] && break; sleep 0.2; done
}
start_vicc() {
    PYTHONPATH=/usr/lib/python3/site-packages/virtualsmartcard:$D/pyshim \
        vicc -t iso7816 -H 127.0.0.1 -P 35963 >>"$D/vicc.log" 2>&1 &
    VICC_PID=$!
}
# What pcscd reports for the reader: "Card inserted" or "Card removed".
# pcsc_scan asks the daemon itself, so the state seen is the one the
# signing will see; polled for up to 10 s.
card_state() {
    timeout 5 pcsc_scan -c 2>/dev/null |
        awk -v r="$READER" '/Reader [0-9]+:/ { here = index($0, r) > 0 } here && /Card state:/ { print; exit }'
}
wait_card() {  # wait_card "Card inserted"|"Card removed"
    for _ in $(seq 50); do
        [[ "$(card_state)" == *"$1"* ]] && return 0
        sleep 0.2
    done
    echo "  reader state: $(card_state)" >&2
    return 1
}
