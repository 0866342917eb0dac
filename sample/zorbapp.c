/* zorbapp: the sample application that the installer examples install. It
 * prints its name and how many procs its dialog file ZORBDLG.CBF (beside the
 * program) holds, so that a user can see what an install or update left. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

/* The CBF header: version text with its NUL, magic, revision, entry count;
 * the proc map of 24-byte entries follows, the third word being "present". */
#define CBF_COUNT_OFFSET 17L
#define CBF_MAP_OFFSET 21L
#define CBF_ENTRY_SIZE 24L
#define CBF_PRESENT_WORD 2

/* Reads a little-endian 32-bit word at offset; 0 when it cannot be read. */
static long ReadWord(FILE* file, long offset)
{
    unsigned char bytes[4];
    if (fseek(file, offset, SEEK_SET) != 0 || fread(bytes, 1, 4, file) != 4)
        return 0;
    return (long)((unsigned long)bytes[0] | (unsigned long)bytes[1] << 8 | (unsigned long)bytes[2] << 16 |
                  (unsigned long)bytes[3] << 24);
}

int main(void)
{
    char path[MAX_PATH];
    char* slash;
    FILE* file;
    long count, index, present = 0;

    printf("ZORB sample application 1.0\n");
    if (GetModuleFileNameA(NULL, path, sizeof path - 16) == 0 || (slash = strrchr(path, '\\')) == NULL)
        return 1;
    strcpy(slash + 1, "ZORBDLG.CBF");
    file = fopen(path, "rb");
    if (file == NULL) {
        printf("no dialog file %s\n", path);
        return 1;
    }
    count = ReadWord(file, CBF_COUNT_OFFSET);
    for (index = 0; index < count; ++index) {
        if (ReadWord(file, CBF_MAP_OFFSET + index * CBF_ENTRY_SIZE + CBF_PRESENT_WORD * 4) != 0)
            ++present;
    }
    fclose(file);
    printf("%ld of %ld procs present in %s\n", present, count, path);
    return 0;
}
