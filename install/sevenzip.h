// The binding to 7-Zip's archive library "7z.dll", which unpacks the 7z
// resource package. The library is loaded once and stays loaded until the
// process ends; only its "CreateObject" and the 7z handler's IInArchive are
// used (install/sevenzip_abi.h).
#pragma once

#include <string>

class I7zExtractListener;

// True when a 7z.dll module is loaded: already (|path| is then not looked
// at) or now from |path|.
bool Load7zLibrary(const std::wstring& path);

// Unpacks every item of |archive_path| below |dest_dir| (made with its parents
// when missing) with the loaded library. 0 on success; -1 when no library is
// loaded, it has no "CreateObject", the archive does not open, the extraction
// fails (an encrypted archive, an item path leaving |dest_dir|, an existing
// file that cannot be replaced) or any item's data were reported damaged.
// |listener| (optional) hears the progress.
int Extract7zArchive(const std::wstring& archive_path, const std::wstring& dest_dir,
                     I7zExtractListener* listener = nullptr);
