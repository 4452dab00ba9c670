// Opens one viewer for a DER file, for the window checks under Xvfb:
//   viewer_driver cert|crl FILE
// Exits 0 once the viewer is closed (at once when the bytes show nothing),
// 2 on a usage or file error.
#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "viewers.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "cert") != 0 && std::strcmp(argv[1], "crl") != 0)) {
        std::fprintf(stderr, "usage: viewer_driver cert|crl FILE\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "viewer_driver: cannot open %s\n", argv[2]);
        return 2;
    }
    const std::vector<std::uint8_t> der{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "viewer_driver: no display\n");
        return 2;
    }
    if (std::strcmp(argv[1], "cert") == 0) {
        tessal::ui::showCertificate(nullptr, der);
    } else {
        tessal::ui::showCrl(nullptr, der);
    }
    return 0;
}
