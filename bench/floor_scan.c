/* The least any version scanner must do over two folder trees: walk each
 * tree, and for every file open it, fstat it, read its first 4 KiB and close
 * it. One thread, no parsing, no output but two counts.
 *
 *   floor_scan FOLDER...
 *
 * Prints the files read and the bytes read, so the compiler cannot drop the
 * reads. bench/floor_bench.sh runs it for scale beside bench/floor_versions.c,
 * which reads what a version reader must.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long long files, bytes;

static void walk(int parent, const char *name) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *dir = fdopendir(fd);
    if (dir == NULL) {
        close(fd);
        return;
    }
    struct dirent *e;
    while ((e = readdir(dir)) != NULL) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        if (e->d_type == DT_DIR) {
            walk(fd, e->d_name);
            continue;
        }
        if (e->d_type != DT_REG)
            continue;
        const int f = openat(fd, e->d_name, O_RDONLY | O_CLOEXEC);
        if (f < 0)
            continue;
        struct stat st;
        char buffer[4096];
        if (fstat(f, &st) == 0) {
            const ssize_t n = read(f, buffer, sizeof buffer);
            if (n > 0)
                bytes += n;
            ++files;
        }
        close(f);
    }
    closedir(dir);
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        walk(AT_FDCWD, argv[i]);
    printf("%lld files, %lld bytes\n", files, bytes);
    return files > 0 ? 0 : 1;
}
