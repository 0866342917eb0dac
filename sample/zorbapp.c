/* zorbapp: the sample application that the installer examples install. It
 * prints its name and how many procs its dialog file ZORBDLG.CBF (beside the
 * program) holds, so that a user can see what an install or update left.
 * With /wait it then stays, with a window, until that window is closed (as
 * an installer that replaces it asks with WM_CLOSE). */
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

#define WINDOW_CLASS "ZorbSampleWindow"

/* The window ends the program when it is closed. */
static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* Shows the window and reads its messages until it is closed: 0, or 1 when
 * it cannot be made. */
static int WaitWithWindow(void)
{
    WNDCLASSA windowClass;
    HWND window;
    MSG message;

    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassA(&windowClass))
        return 1;
    window = CreateWindowExA(0, WINDOW_CLASS, "ZORB sample application", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 320, 200, NULL, NULL, windowClass.hInstance, NULL);
    if (window == NULL)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    printf("waiting until the window is closed\n");
    fflush(stdout);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    printf("window closed\n");
    return 0;
}

/* Prints how many procs the dialog file beside the program holds: 0, or 1
 * when it cannot be read. */
static int ReportDialogFile(void)
{
    char path[MAX_PATH];
    char* slash;
    FILE* file;
    long count, index, present = 0;

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

/* With /wait the window's result; else the report's. (The ANSI path of a
 * folder named outside the code page reaches no dialog file: the window
 * waits all the same.) */
int main(int argc, char** argv)
{
    int reported;

    printf("ZORB sample application 1.0\n");
    reported = ReportDialogFile();
    if (argc > 1 && strcmp(argv[1], "/wait") == 0)
        return WaitWithWindow();
    return reported;
}
