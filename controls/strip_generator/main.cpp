// Writes the controls' picture strips: corvala_strip_generator FACE.png HELP.png
#include "stripgenerator.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FACE.png HELP.png\n", argv[0]);
        return 2;
    }
    if (!StripGenerator::FaceStrip().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (!StripGenerator::HelpStrip().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
