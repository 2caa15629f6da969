/* The least a version comparer must do over two folder trees, on one thread:
 * walk the source tree; for every file read what a version reader must; and
 * when it has a version, read the file of the same name under the target
 * the same way.
 *
 *   floor_versions SOURCE TARGET
 *
 * What is read of a file, with as few reads as that takes: its first 4 KiB;
 * for a PE file (anything but *.ttf) the section table when it lies past
 * them, then the resource directory's path to the version resource (type 16,
 * name 1 or the first, language 0, 0x409, 9 or the first) and its data
 * entry, each read only when the last read did not bring it, a 4 KiB block
 * at a time; then the version block itself. For a *.ttf font: the table
 * directory (in the first 4 KiB) and the whole `name` table. A version is
 * there when the block holds a fixed file version, or the font a name 5.
 *
 * Each file is opened below its folder (the source's from the folder being
 * listed, the target's from the target root), fstat'ed, read with pread
 * into buffers reused for every file, and closed. Nothing is decoded or
 * printed but counts, so the reads cannot be left out. Used by
 * bench/floor_bench.sh as the yardstick for `compare`.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kBlock = 4096, kMaxVersionBlock = 0xFFFF, kMaxNameTable = 1 << 20 };

static long long files, targets, versioned, reads, bytes, checksum;
static int targetRoot = -1;

/* One open file and what was read of it last. */
struct File {
    int fd;
    uint64_t size;
    unsigned char *window; /* kBlock * 2 bytes, reused */
    uint64_t windowAt;
    size_t windowLength;
    unsigned char *big; /* for reads past a window, reused */
    size_t bigCapacity;
};

static unsigned char windowBuffer[2 * kBlock];

static int readAt(struct File *f, unsigned char *to, uint64_t at, size_t length) {
    const ssize_t n = pread(f->fd, to, length, (off_t)at);
    ++reads;
    if (n > 0)
        bytes += n;
    return n == (ssize_t)length ? 0 : -1;
}

/* The bytes [at, at + length) of the file: from the last read when it holds
 * them, else read now (a block-aligned window for small reads). */
static const unsigned char *fetch(struct File *f, uint64_t at, size_t length) {
    if (at > f->size || length > f->size - at)
        return NULL;
    if (f->windowLength > 0 && at >= f->windowAt && at + length <= f->windowAt + f->windowLength)
        return f->window + (at - f->windowAt);
    if (length <= kBlock) {
        const uint64_t start = at - at % kBlock;
        size_t wanted = at + length - start <= kBlock ? kBlock : 2 * kBlock;
        if (wanted > f->size - start)
            wanted = (size_t)(f->size - start);
        f->windowLength = 0;
        if (readAt(f, f->window, start, wanted) != 0)
            return NULL;
        f->windowAt = start;
        f->windowLength = wanted;
        return f->window + (at - start);
    }
    if (length > f->bigCapacity) {
        free(f->big);
        f->big = malloc(length);
        f->bigCapacity = f->big ? length : 0;
        if (!f->big)
            return NULL;
    }
    return readAt(f, f->big, at, length) == 0 ? f->big : NULL;
}

static uint16_t le16(const unsigned char *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t le32(const unsigned char *p) { return le16(p) | (uint32_t)le16(p + 2) << 16; }
static uint16_t be16(const unsigned char *p) { return (uint16_t)(p[0] << 8 | p[1]); }
static uint32_t be32(const unsigned char *p) { return (uint32_t)be16(p) << 16 | be16(p + 2); }

struct Sections {
    unsigned count;
    uint32_t va[96], vsize[96], rawSize[96], rawAt[96];
};

static int mapRva(const struct Sections *s, uint32_t rva, uint64_t *at) {
    for (unsigned i = 0; i < s->count; ++i) {
        const uint32_t extent = s->vsize[i] > s->rawSize[i] ? s->vsize[i] : s->rawSize[i];
        if (rva >= s->va[i] && rva - s->va[i] < extent) {
            *at = (uint64_t)s->rawAt[i] + (rva - s->va[i]);
            return 0;
        }
    }
    return -1;
}

/* The entries of the resource directory at `offset` in the tree. */
static const unsigned char *directory(struct File *f, const struct Sections *s, uint32_t base,
                                      uint32_t offset, unsigned *count) {
    uint64_t at;
    if (mapRva(s, base + offset, &at) != 0)
        return NULL;
    const unsigned char *h = fetch(f, at, 16);
    if (!h)
        return NULL;
    *count = (unsigned)le16(h + 12) + le16(h + 14);
    return fetch(f, at + 16, (size_t)*count * 8);
}

static int peVersion(struct File *f) {
    const unsigned char *p = fetch(f, 0, 64);
    if (!p || le16(p) != 0x5A4D)
        return 0;
    const uint32_t lfanew = le32(p + 0x3C);
    const unsigned char *h = fetch(f, lfanew, 24 + 2);
    if (!h || le32(h) != 0x4550)
        return 0;
    struct Sections s;
    s.count = le16(h + 6) < 96 ? le16(h + 6) : 96;
    const unsigned optionalSize = le16(h + 20);
    const int plus = le16(h + 24) == 0x20B;
    const unsigned dirAt = (plus ? 112 : 96) + 16;
    if (optionalSize < dirAt + 8)
        return 0;
    const unsigned char *o = fetch(f, lfanew + 24, optionalSize);
    if (!o)
        return 0;
    const uint32_t resourceRva = le32(o + dirAt);
    if (resourceRva == 0)
        return 0;
    const unsigned char *t = fetch(f, lfanew + 24 + optionalSize, s.count * 40);
    if (!t)
        return 0;
    for (unsigned i = 0; i < s.count; ++i) {
        s.vsize[i] = le32(t + 40 * i + 8);
        s.va[i] = le32(t + 40 * i + 12);
        s.rawSize[i] = le32(t + 40 * i + 16);
        s.rawAt[i] = le32(t + 40 * i + 20);
    }
    /* Type 16, then name 1 (or the first), then the language. */
    unsigned n;
    const unsigned char *e = directory(f, &s, resourceRva, 0, &n);
    uint32_t next = 0;
    for (unsigned i = 0; e && i < n && !next; ++i)
        if (le32(e + 8 * i) == 16 && (le32(e + 8 * i + 4) & 0x80000000u))
            next = le32(e + 8 * i + 4) & 0x7FFFFFFFu;
    if (!next)
        return 0;
    e = directory(f, &s, resourceRva, next, &n);
    if (!e || n == 0 || !(le32(e + 4) & 0x80000000u))
        return 0;
    next = le32(e + 4) & 0x7FFFFFFFu;
    for (unsigned i = 0; i < n; ++i)
        if (le32(e + 8 * i) == 1 && (le32(e + 8 * i + 4) & 0x80000000u))
            next = le32(e + 8 * i + 4) & 0x7FFFFFFFu;
    e = directory(f, &s, resourceRva, next, &n);
    if (!e || n == 0)
        return 0;
    uint32_t entry = le32(e + 4);
    const uint32_t preferred[] = {0, 0x409, 9};
    for (int k = 2; k >= 0; --k)
        for (unsigned i = 0; i < n; ++i)
            if (le32(e + 8 * i) == preferred[k]) {
                entry = le32(e + 8 * i + 4);
                break;
            }
    if (entry & 0x80000000u)
        return 0;
    uint64_t at;
    if (mapRva(&s, resourceRva + entry, &at) != 0)
        return 0;
    const unsigned char *d = fetch(f, at, 16);
    if (!d)
        return 0;
    const uint32_t dataRva = le32(d);
    uint32_t size = le32(d + 4);
    if (size > kMaxVersionBlock)
        size = kMaxVersionBlock;
    if (mapRva(&s, dataRva, &at) != 0 || at > f->size)
        return 0;
    if (size > f->size - at)
        size = (uint32_t)(f->size - at);
    const unsigned char *block = fetch(f, at, size);
    if (!block || size < 92)
        return 0;
    checksum += le32(block + 48) + le32(block + 52);
    return le32(block + 40) == 0xFEEF04BDu;
}

static int fontVersion(struct File *f) {
    const unsigned char *p = fetch(f, 0, 12);
    if (!p || be16(p) != 1)
        return 0;
    const unsigned tables = be16(p + 4);
    const unsigned char *d = fetch(f, 12, (size_t)tables * 16);
    if (!d)
        return 0;
    for (unsigned i = 0; i < tables; ++i) {
        if (be32(d + 16 * i) != 0x6E616D65u)
            continue;
        const uint32_t at = be32(d + 16 * i + 8);
        uint32_t length = be32(d + 16 * i + 12);
        if (length > kMaxNameTable)
            length = kMaxNameTable;
        if (at > f->size)
            return 0;
        if (length > f->size - at)
            length = (uint32_t)(f->size - at);
        const unsigned char *table = fetch(f, at, length);
        if (!table || length < 6)
            return 0;
        const unsigned count = be16(table + 2);
        for (unsigned j = 0; j < count && 6 + 12 * (j + 1) <= length; ++j) {
            const unsigned char *r = table + 6 + 12 * j;
            checksum += r[7];
            if (be16(r + 6) == 5 && be16(r + 8) > 0)
                return 1;
        }
        return 0;
    }
    return 0;
}

static int endsWith(const char *name, const char *suffix) {
    const size_t n = strlen(name), s = strlen(suffix);
    return n >= s && strcasecmp(name + n - s, suffix) == 0;
}

static struct File opened;

/* Reads the file `name` below `folder`; 1 when it has a version. */
static int readFile(int folder, const char *name) {
    const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int found = 0;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        opened.fd = fd;
        opened.size = (uint64_t)st.st_size;
        opened.windowLength = 0;
        found = endsWith(name, ".ttf") ? fontVersion(&opened) : peVersion(&opened);
    }
    close(fd);
    return found;
}

static void walk(int parent, const char *name, char *relative, size_t length) {
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
        const size_t n = strlen(e->d_name);
        if (length + n + 2 > PATH_MAX)
            continue;
        memcpy(relative + length, e->d_name, n + 1);
        if (e->d_type == DT_DIR) {
            relative[length + n] = '/';
            relative[length + n + 1] = '\0';
            walk(fd, e->d_name, relative, length + n + 1);
            continue;
        }
        if (e->d_type != DT_REG)
            continue;
        ++files;
        if (readFile(fd, e->d_name)) {
            ++versioned;
            if (targetRoot >= 0) {
                ++targets;
                readFile(targetRoot, relative);
            }
        }
    }
    closedir(dir);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: floor_versions SOURCE TARGET\n");
        return 2;
    }
    opened.window = windowBuffer;
    targetRoot = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (targetRoot < 0) {
        perror(argv[2]);
        return 2;
    }
    static char relative[PATH_MAX];
    walk(AT_FDCWD, argv[1], relative, 0);
    printf("%lld source files, %lld with a version, %lld targets read; %lld reads, %lld bytes "
           "(%lld)\n",
           files, versioned, targets, reads, bytes, checksum);
    return files > 0 ? 0 : 1;
}
