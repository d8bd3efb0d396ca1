// velmora-demo-header FILE: writes the first 2048 bytes of an MPEG program
// stream (pack header, system header, padding), the template the program
// writes over each follow-up file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mpeg_ps.h"
#include "write_file.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    const bool written = WriteAll(fd, MakeHeaderPack());
    if (close(fd) != 0 || !written) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
