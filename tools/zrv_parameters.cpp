// zrv_parameters: prints the table of the parameter image's words from the
// image layout of the program, into the file named or to the standard output.
//
//   zrv_parameters docs/parameters.md
#include "core/image_words.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    const std::string text = ImageWords::markdown();
    if (argc < 2) {
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        std::fprintf(stderr, "zrv_parameters: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
