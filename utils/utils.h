// System utilities: shell, registry, files, processes and versions. Stateless
// free functions that run on the calling thread and take no locks; none
// throws. Paths hold at most MAX_PATH (260) characters. Failures that matter
// are logged; results are a bool or a value with an empty / zero fallback.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "utils/text_cipher.h"
#include "utils/version.h"

namespace utils {

// ---- Paths and known folders ----

// The shell's join of two path parts; with |create| the directory chain is
// made and "" is returned when it does not exist afterwards.
std::wstring CombinePath(const std::wstring& left, const std::wstring& right, bool create);

// Known folders (roaming application data, desktop, start-menu programs, the
// system temp path) joined with |name|; "" when |create| is set and the
// directory cannot be made.
std::wstring GetAppDataPath(const std::wstring& name, bool create);
std::wstring GetDesktopPath(const std::wstring& name, bool create);
std::wstring GetProgramsPath(const std::wstring& name, bool create);
std::wstring GetTempSubPath(const std::wstring& name, bool create);

// Full path of the running executable.
std::wstring GetModulePath();
// Directory of |module|; null means the executable.
std::wstring GetModuleDir(HMODULE module = nullptr);
std::wstring GetModuleDirPath(HMODULE module, const std::wstring& name, bool create);
// |path| without its last component ("C:\a\b.exe" gives "C:\a", "C:\b.exe"
// gives "C:\"); "" for a path of MAX_PATH characters or more.
std::wstring GetDirOfPath(const std::wstring& path);

// ---- Registry text values (REG_SZ) ----

// The value under |root|\|subkey|, or |default_value| when the root, subkey or
// value name is missing (empty) or the read fails: absent key or value, a
// value that is not text, or one longer than the 1024-byte read buffer holds
// (511 characters and a terminator), which is never returned cut.
std::wstring ReadRegText(HKEY root, const std::wstring& subkey, const std::wstring& value_name,
                         const std::wstring& default_value = std::wstring());
// Creates missing keys and stores |text| with a byte count of 2 x its length
// (the terminator not counted). False for a missing root, subkey or value name.
bool WriteRegText(HKEY root, const std::wstring& subkey, const std::wstring& value_name,
                  const std::wstring& text);

// ---- Versions and time ----

// Reads the fixed version block of |path|: the file version pair with
// |file_version|, else the product version pair. |text| gets "%d.%d.%d.%d".
// False for a missing or empty block and for blocks over 8191 bytes; the
// outputs are then untouched. Any output may be null.
bool GetFileVersionNumbers(const std::wstring& path, DWORD* ms, DWORD* ls, std::wstring* text,
                           bool file_version);
// The file version as major.minor.build.revision, or "".
std::wstring GetFileVersionText(const std::wstring& path);

// Local time as "%04d-%02d-%02d %02d:%02d:%02d".
std::wstring GetNowText();

// The machine id (mid, 32 hex digits); "" when it cannot be made. Defined in
// telemetry/machine_id.cpp; the first call may take a moment.
std::wstring GetMidText();

// An integer in [low, high) from the C library generator: two draws are
// discarded, a third fixes how many more are made (1 to 99), and the last of
// those is scaled into the range.
int RandomInRange(int low, int high);

// ---- Resources and files ----

// Copies resource |id| of type |type| from |module| into |out|. False, with
// |out| untouched, when it is missing or empty.
bool LoadResourceData(HMODULE module, int id, const wchar_t* type, std::string* out);

// Creates or truncates |path| and writes |bytes|. Returns the number of bytes
// when all were written, 0 on a short write (or nothing to write), and the
// negated C error number when the file cannot be opened.
int64_t SaveDataToFile(const std::wstring& path, const std::string& bytes);

// Writes |count| icons as one .ico file in the published layout (directory
// entries in the order given). False when an icon cannot be read (nothing is
// written then) or a write fails (the partial file stays).
bool SaveIconFile(const HICON* icons, int count, const std::wstring& path);

// Existence checks: anything at |path|; a file, not a directory; a directory.
bool PathExists(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates |dir| with its parents; true when it is a directory afterwards
// (an existing directory is no error).
bool CreateDirectoryTree(const std::wstring& dir);

// True when the file did not exist or was deleted (read-only cleared first).
bool DeleteFileForce(const std::wstring& path);
// True when deleted now; false when the deletion is scheduled for the next
// restart because the file cannot be deleted now.
bool DeleteFileOrDefer(const std::wstring& path);
// Deletes the tree; files that cannot go now are scheduled for the next
// restart. Linked directories (junctions, symbolic links) are removed as
// links, never entered. False only for an empty path or one of MAX_PATH
// characters or more.
bool DeleteDirectoryTree(const std::wstring& dir);
// The shell's silent delete of |dir| (no recycle bin). False only for an
// empty or over-long argument.
bool ShellDeleteDirectory(const std::wstring& dir);

// Copies |source| into the temp subdirectory |subdir| and returns the copy's
// path, or "". A destination that exists and cannot be deleted is avoided by
// appending "-" and the seconds since 1970 to the file name.
std::wstring CopyFileToTempDir(const std::wstring& source, const std::wstring& subdir);

// ---- Processes and the shell ----

// Makes sure the running executable works from a copy in the temp folder
// "__QuarvelTemp__", so that it can delete its own install directory. True
// when the caller should go on in place (it already is the temp copy, or no
// copy could be made or started); false when a copy named |base_name| + ".exe"
// was started with |args| + " /target_dir=\"<dir>\" /S" and the caller must
// end its run.
bool EnsureRunTempDir(const std::wstring& base_name, const std::wstring& args);

// Terminates every other process whose executable path starts with |dir|
// (letter case ignored; a plain prefix test, so "C:\g\kzr" also matches
// "C:\g\kzr2\x.exe"). False for a |dir| shorter than 4 or longer than 260
// characters, or when the process list cannot be read.
bool KillRelatedProcess(const std::wstring& dir);

// Opens |url| with the browser of the "http" association (or the registered
// "iexplore.exe"). True when a browser program was found, whatever the start
// produced.
bool OpenUrlInBrowser(const std::wstring& url);

// Starts |path| through the shell's "open" verb. With |wait| blocks, without
// a limit, until it ends; |exit_code| (optional) receives its exit code then.
// False when the path is empty, too long or missing, or nothing was started.
bool ShellRun(const std::wstring& path, const std::wstring& params, int show, bool wait,
              DWORD* exit_code = nullptr);

// Writes a shell link at |link_path| to the existing |target| with |args|
// (when not empty), show command SW_SHOW, the target's directory as working
// directory and, for |icon_index| >= 0, the short form of |icon_path|.
// |name| is not stored. COM must be initialised on the calling thread. False
// when the target is missing or any step fails; an existing link then stays.
bool CreateShortcut(const std::wstring& name, const std::wstring& target, const std::wstring& args,
                    const std::wstring& link_path, const std::wstring& icon_path, int icon_index);

}  // namespace utils
