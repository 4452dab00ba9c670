#ifndef TESSAL_BENCH_LOWER_BOUND_H
#define TESSAL_BENCH_LOWER_BOUND_H
/* The least work any libxml2 + OpenSSL verifier or signer of an enveloped
 * RSA-SHA256 signature over a whole document must do: one parse, one
 * canonicalisation of the document streamed into SHA-256, one RSA operation
 * over the small canonical SignedInfo, and for signing one serialisation.
 * Written apart from the library it is compared with, as its yardstick. */
#include <stddef.h>

#include <openssl/evp.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when the document's whole-document reference digest and its signature
 * value hold under `key`; otherwise -1 with a reason on standard error. */
int lb_verify(const char* xml, size_t length, EVP_PKEY* key);

/* Appends an enveloped signature made with `key` and serialises the document
 * into *out (release it with lb_free). 0 on success, -1 otherwise. */
int lb_sign(const char* xml, size_t length, EVP_PKEY* key, unsigned char** out, size_t* outLength);
void lb_free(void* bytes);

/* The public key of a PEM certificate, or a PEM private key; NULL on failure. */
EVP_PKEY* lb_load_certificate_key(const char* path);
EVP_PKEY* lb_load_private_key(const char* path);

#ifdef __cplusplus
}
#endif
#endif
