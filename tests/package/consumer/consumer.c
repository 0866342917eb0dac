/* Calls setupsup.dll through its import library, as a C program built
 * against the release would, and checks that the header's version is the
 * package's. */
#include <stdio.h>
#include <string.h>

#include <setupsup.h>

int main(void)
{
    char date[SETUPSUP_DATE_SIZE];
    int written = FormatDate(2001, 12, 31, date);
    if (strcmp(SETUPSUP_VERSION_STRING, PACKAGE_VERSION) != 0) {
        printf("header version %s, package version %s\n", SETUPSUP_VERSION_STRING, PACKAGE_VERSION);
        return 1;
    }
    printf("setupsup %s: FormatDate=%d %s\n", SETUPSUP_VERSION_STRING, written, date);
    return written == (int)strlen(date) + 1 ? 0 : 1;
}
