// The bodies of DeleteInUseFile and ReplaceInUseFile, for the exports that
// put or remove a file of their own the same way (InstallFont,
// UninstallFont): their results are the SETUPSUP_INUSE_* codes.
#pragma once

namespace setupsup {

// True when path is a full path the restart can carry out without a current
// folder: a drive letter, its colon and a separator ("C:\..."), or two
// separators (a UNC path "\\server\share\...", an extended "\\?\..." one).
// Null, empty, relative, drive-relative ("C:file") and root-relative
// ("\file") paths are not.
template <typename Char>
bool IsFullPath(const Char* path);

// Deletes the file path now, or where another opener holds it at the next
// restart: SETUPSUP_INUSE_DONE, AT_RESTART or a failure.
template <typename Char>
int DeleteInUse(const Char* path);

// Puts a copy of sourcePath in the place of targetPath (which may be
// missing) now, or where another opener holds it at the next restart:
// SETUPSUP_INUSE_DONE, AT_RESTART or a failure, with no copy left behind.
template <typename Char>
int ReplaceInUse(const Char* sourcePath, const Char* targetPath);

extern template bool IsFullPath(const char* path);
extern template bool IsFullPath(const wchar_t* path);
extern template int DeleteInUse(const char* path);
extern template int DeleteInUse(const wchar_t* path);
extern template int ReplaceInUse(const char* sourcePath, const char* targetPath);
extern template int ReplaceInUse(const wchar_t* sourcePath, const wchar_t* targetPath);

} // namespace setupsup
