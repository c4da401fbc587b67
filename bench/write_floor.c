/* The disk's floor for a save: writes BYTES bytes from memory to FILE in
 * 1 MiB blocks, starts write-back every 8 MiB (as the program's saves do) and
 * fsyncs at the end; prints the wall time in seconds. What a save of as many
 * bytes cannot beat however fast it formats.
 *
 *     write_floor FILE BYTES
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: write_floor FILE BYTES\n");
        return 2;
    }
    const long long total = atoll(argv[2]);
    enum { kBlock = 1 << 20 };
    const long long kWriteBackStep = 8LL << 20;
    /* Text-like bytes, not zeros, so that no layer can take a shortcut. */
    char* block = malloc(kBlock);
    if (block == NULL)
        return 1;
    for (int i = 0; i < kBlock; ++i)
        block[i] = (char)('0' + i % 10);
    const double start = Now();
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    long long written = 0, flushed = 0;
    while (written < total) {
        const long long left = total - written;
        const size_t size = left < kBlock ? (size_t)left : (size_t)kBlock;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd, block + done, size - done);
            if (n < 0) {
                perror("write");
                return 1;
            }
            done += (size_t)n;
        }
        written += (long long)size;
        if (written - flushed >= kWriteBackStep) {
            sync_file_range(fd, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
            flushed = written;
        }
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        perror("fsync");
        return 1;
    }
    printf("%.6f\n", Now() - start);
    free(block);
    return 0;
}
