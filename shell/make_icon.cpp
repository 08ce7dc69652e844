// bellwave-icon OUT.png SIZE: writes the program's icon as a PNG for the install.
#include <cstdio>
#include <cstdlib>

#include <QImage>
#include <QString>

#include "shell/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bellwave-icon OUT.png SIZE\n");
        return 2;
    }
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "bellwave-icon: SIZE must be 16 to 1024\n");
        return 2;
    }
    const QImage icon = DrawAppIcon(size);
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "bellwave-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
