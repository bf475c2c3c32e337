// Unpacking the resource packages the executable carries (type "ZIPRES"):
// the package is saved to |package_path| first (the install flow deletes it
// later) and then unpacked into |dest_dir|. Each failure is logged.
#pragma once

#include <windows.h>

#include <string>

namespace utils {

// A zip package, read with the zip reader. True when it was saved and every
// entry unpacked.
bool TrayUnZipFile2(int resource_id, const std::wstring& package_path,
                    const std::wstring& dest_dir);
// A 7z package, read with the loaded 7z.dll. True when it was saved and every
// item unpacked.
bool TrayUnzip7zFile(int resource_id, const std::wstring& package_path,
                     const std::wstring& dest_dir);

// The same with the package taken from the resources of |module| instead of
// the executable's.
bool TrayUnZipFile2(HMODULE module, int resource_id, const std::wstring& package_path,
                    const std::wstring& dest_dir);
bool TrayUnzip7zFile(HMODULE module, int resource_id, const std::wstring& package_path,
                     const std::wstring& dest_dir);

}  // namespace utils
