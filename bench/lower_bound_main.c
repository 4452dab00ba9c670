/* lower_bound verify FILE CERT.pem      exit 0 when the signature holds
 * lower_bound sign FILE KEY.pem OUT     writes the signed document to OUT
 * Exit 1 on failure, 2 for a usage error. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lower_bound.h"

static char* read_file(const char* path, size_t* length) {
    FILE* file = fopen(path, "rb");
    long size = -1;
    if (file != NULL && fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    char* bytes = size >= 0 && fseek(file, 0, SEEK_SET) == 0 ? malloc((size_t)size + 1) : NULL;
    if (bytes != NULL && fread(bytes, 1, (size_t)size, file) != (size_t)size) {
        free(bytes);
        bytes = NULL;
    }
    if (file != NULL) fclose(file);
    *length = (size_t)size;
    return bytes;
}

static int write_file(const char* path, const unsigned char* bytes, size_t length) {
    FILE* file = fopen(path, "wb");
    if (file == NULL) return -1;
    const int ok = fwrite(bytes, 1, length, file) == length;
    return fclose(file) == 0 && ok ? 0 : -1;
}

int main(int argc, char** argv) {
    const int verify = argc == 4 && strcmp(argv[1], "verify") == 0;
    const int sign = argc == 5 && strcmp(argv[1], "sign") == 0;
    if (!verify && !sign) {
        fprintf(stderr, "usage: lower_bound verify FILE CERT.pem | lower_bound sign FILE KEY.pem OUT\n");
        return 2;
    }
    size_t length = 0;
    char* xml = read_file(argv[2], &length);
    EVP_PKEY* key = verify ? lb_load_certificate_key(argv[3]) : lb_load_private_key(argv[3]);
    int result = -1;
    if (xml == NULL || key == NULL) {
        fprintf(stderr, "lower_bound: cannot read %s\n", xml == NULL ? argv[2] : argv[3]);
    } else if (verify) {
        result = lb_verify(xml, length, key);
    } else {
        unsigned char* out = NULL;
        size_t outLength = 0;
        result = lb_sign(xml, length, key, &out, &outLength);
        if (result == 0 && write_file(argv[4], out, outLength) != 0) {
            fprintf(stderr, "lower_bound: cannot write %s\n", argv[4]);
            result = -1;
        }
        lb_free(out);
    }
    EVP_PKEY_free(key);
    free(xml);
    return result == 0 ? 0 : 1;
}
