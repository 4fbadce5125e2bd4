/* The companion's UTF-8 chdir/getcwd for Windows (brantel/ciphers/win_paths.c), run on
 * Windows or under Wine by tools/wine_test.sh. It works in a scratch folder that is the
 * current directory when it starts. The directories are made with _wmkdir from UTF-16
 * literals, so each round trip is checked against the system's own names, not against
 * the conversion under test. Prints one line per failed check, then "N passed, N failed". */
#include "../../brantel/ciphers/win_paths.c"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int passed, failed;

static void check(int ok, const char *what, const char *name, int line)
{
    if (ok) {
        passed++;
    } else {
        failed++;
        printf("FAILED line %d (%s): %s\n", line, name, what);
    }
}
#define CHECK(cond, name) check((cond), #cond, (name), __LINE__)

/* Whether text ends with a backslash and then tail. */
static int ends_with_dir(const char *text, const char *tail)
{
    size_t n = strlen(text), m = strlen(tail);
    return n > m && text[n - m - 1] == '\\' && strcmp(text + n - m, tail) == 0;
}

static int wide_ends_with_dir(const wchar_t *text, const wchar_t *tail)
{
    size_t n = wcslen(text), m = wcslen(tail);
    return n > m && text[n - m - 1] == L'\\' && wcscmp(text + n - m, tail) == 0;
}

struct named_dir {
    const char *label;
    const char *utf8;
    const wchar_t *wide;
};

/* Latin, Greek, CJK, and an emoji outside the BMP (a surrogate pair in UTF-16). */
static const struct named_dir DIRS[] = {
    {"latin", "d\xc3\xa9j\xc3\xa0_vu", L"d\u00e9j\u00e0_vu"},
    {"greek", "\xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1", L"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1"},
    {"cjk", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", L"\u65e5\u672c\u8a9e"},
    {"emoji", "ok_\xf0\x9f\x98\x80", L"ok_\U0001F600"},
    {"mixed", "\xc3\xa9 \xce\xb1 \xe6\x97\xa5 \xf0\x9f\x98\x80.d", L"\u00e9 \u03b1 \u65e5 \U0001F600.d"},
};

/* Text that is not UTF-8: refused before any call, and the directory stays where it was. */
static const char *const NOT_UTF8[] = {
    "\xff",                /* never a UTF-8 byte */
    "caf\xe9",             /* Latin-1 */
    "\xc0\xaf",            /* overlong "/" */
    "\xed\xa0\x80",        /* an encoded surrogate */
    "\xe6\x97",            /* truncated */
    "ok_\xf4\x90\x80\x80", /* above U+10FFFF */
};

static void round_trip(const struct named_dir *dir, const wchar_t *base)
{
    char *got;
    wchar_t *wide;
    size_t len;
    char small[4096];

    CHECK(_wmkdir(dir->wide) == 0, dir->label);
    CHECK(brantel_utf8_chdir(dir->utf8) == 0, dir->label);
    wide = _wgetcwd(NULL, 0);
    CHECK(wide != NULL && wide_ends_with_dir(wide, dir->wide), dir->label);
    free(wide);

    got = brantel_utf8_getcwd(NULL, 0); /* as large as needed */
    CHECK(got != NULL && ends_with_dir(got, dir->utf8), dir->label);
    if (got == NULL)
        return;
    len = strlen(got);
    free(got);

    /* Exactly large enough, into the caller's buffer and into an allocated one. */
    CHECK(len + 1 <= sizeof small, dir->label);
    if (len + 1 > sizeof small)
        return;
    CHECK(brantel_utf8_getcwd(small, len + 1) == small && ends_with_dir(small, dir->utf8), dir->label);
    got = brantel_utf8_getcwd(NULL, len + 1);
    CHECK(got != NULL && ends_with_dir(got, dir->utf8), dir->label);
    free(got);

    /* One byte short: ERANGE, and the caller's buffer is left alone. */
    memset(small, '#', sizeof small);
    errno = 0;
    CHECK(brantel_utf8_getcwd(small, len) == NULL && errno == ERANGE, dir->label);
    CHECK(small[0] == '#' && small[len - 1] == '#', dir->label);
    errno = 0;
    CHECK(brantel_utf8_getcwd(NULL, len) == NULL && errno == ERANGE, dir->label);
    errno = 0;
    CHECK(brantel_utf8_getcwd(small, 1) == NULL && errno == ERANGE, dir->label);

    CHECK(brantel_utf8_chdir("..") == 0, dir->label);
    wide = _wgetcwd(NULL, 0);
    CHECK(wide != NULL && wcscmp(wide, base) == 0, dir->label);
    free(wide);
}

/* The call fails with the errno given and the current directory does not move. */
static void refused(const char *path, int error, const wchar_t *base, const char *label)
{
    wchar_t *wide;

    errno = 0;
    CHECK(brantel_utf8_chdir(path) == -1 && errno == error, label);
    wide = _wgetcwd(NULL, 0);
    CHECK(wide != NULL && wcscmp(wide, base) == 0, label);
    free(wide);
}

int main(void)
{
    wchar_t *base = _wgetcwd(NULL, 0);
    char buf[8];
    size_t i;

    if (base == NULL) {
        printf("FAILED: no current directory\n");
        return 1;
    }
    for (i = 0; i < sizeof DIRS / sizeof DIRS[0]; i++)
        round_trip(&DIRS[i], base);
    for (i = 0; i < sizeof NOT_UTF8 / sizeof NOT_UTF8[0]; i++)
        refused(NOT_UTF8[i], EINVAL, base, "not UTF-8");
    refused(NULL, EINVAL, base, "null path");
    refused("no_such_dir_\xc3\xa9", ENOENT, base, "missing directory");
    refused("d\xc3\xa9j\xc3\xa0_vu\\no_such_\xf0\x9f\x98\x80", ENOENT, base, "missing below an existing one");

    /* A buffer with no size is invalid, as with POSIX getcwd. */
    errno = 0;
    CHECK(brantel_utf8_getcwd(buf, 0) == NULL && errno == EINVAL, "zero size");

    free(base);
    printf("%d passed, %d failed\n", passed, failed);
    return failed != 0;
}
