# The browser extension's fixed identities: the host manifests that `tessal register`
# writes and the extension build both take them from here, so they cannot drift apart.
#
# Chromium derives an unpacked or packed extension's id from the manifest's "key" (the
# public key in chromium-key.txt): the first 32 hex digits of sha256 of the DER
# SubjectPublicKeyInfo, each digit 0-f written as a-p. Only the public key is kept.
set(TESSAL_NATIVE_HOST_NAME "tessal.sign")
set(TESSAL_CHROMIUM_EXTENSION_ID "fammpjnadnkagobkbhpekeemgnjfhicp")
set(TESSAL_FIREFOX_EXTENSION_ID "sign@tessal.example")
