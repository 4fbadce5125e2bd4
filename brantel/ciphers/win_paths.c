/* chdir and getcwd in UTF-8 over the wide-character calls, for Windows: decryption.h
 * maps the two names here, so that non-ASCII paths behave as on the other platforms
 * rather than going through the ANSI code page. decryption.c includes this file; it
 * also compiles alone (without OpenSSL), which is how its test builds it. */
#ifdef _WIN32
#undef chdir
#undef getcwd
#define WIN32_LEAN_AND_MEAN
#include <direct.h>
#include <errno.h>
#include <stdlib.h>
#include <windows.h>

int brantel_utf8_chdir(const char *path);
char *brantel_utf8_getcwd(char *buf, size_t size);

/* A malloc'd UTF-16 copy of NUL-terminated UTF-8 text, or NULL with errno set. */
static wchar_t *utf8_to_wide(const char *text)
{
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    wchar_t *wide;

    if (n <= 0) {
        errno = EINVAL;
        return NULL;
    }
    wide = malloc((size_t)n * sizeof *wide);
    if (wide == NULL) {
        errno = ENOMEM;
        return NULL;
    }
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, n) != n) {
        free(wide);
        errno = EINVAL;
        return NULL;
    }
    return wide;
}

int brantel_utf8_chdir(const char *path)
{
    wchar_t *wide;
    int result;

    if (path == NULL) {
        errno = EINVAL;
        return -1;
    }
    wide = utf8_to_wide(path);
    if (wide == NULL)
        return -1;
    result = _wchdir(wide);
    free(wide);
    return result;
}

/* As POSIX getcwd: into buf of size bytes, or, when buf is NULL, into a malloc'd
 * buffer of size bytes (as large as needed when size is 0). ERANGE when too small. */
char *brantel_utf8_getcwd(char *buf, size_t size)
{
    wchar_t *wide = _wgetcwd(NULL, 0);
    char *out;
    int needed;

    if (wide == NULL)
        return NULL;
    needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, NULL, 0, NULL, NULL);
    if (needed <= 0) {
        free(wide);
        errno = EILSEQ;
        return NULL;
    }
    if ((buf != NULL && size == 0) || (size != 0 && size < (size_t)needed)) {
        free(wide);
        errno = size == 0 ? EINVAL : ERANGE;
        return NULL;
    }
    out = buf != NULL ? buf : malloc(size != 0 ? size : (size_t)needed);
    if (out == NULL) {
        free(wide);
        errno = ENOMEM;
        return NULL;
    }
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out, needed, NULL, NULL);
    free(wide);
    return out;
}
#endif /* _WIN32 */
