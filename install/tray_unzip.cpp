#include "install/tray_unzip.h"

#include "base/logging.h"
#include "install/sevenzip.h"
#include "install/zip_archive.h"
#include "utils/utils.h"

namespace utils {
namespace {

// The two operations differ only in the extractor and the names in their
// messages.
struct PackageKind {
  const char* read_failed;
  const char* save_failed;
  const char* unpack_failed;
  int (*extract)(const std::wstring& package, const std::wstring& dest);
};

int ExtractZip(const std::wstring& package, const std::wstring& dest) {
  return static_cast<int>(ExtractZipArchive(package.c_str(), dest.c_str()));
}

int Extract7z(const std::wstring& package, const std::wstring& dest) {
  return Extract7zArchive(package, dest, nullptr);
}

const PackageKind kZip = {
    "TrayUnZipFile2 failed, read resource failed. file: ",
    "TrayUnZipFile2 failed, save path failed. path:",
    "TrayUnzipFile2, un_zip failed path:",
    &ExtractZip,
};

const PackageKind k7z = {
    "TrayUnzip7zFile failed, read resource failed. file: ",
    "TrayUnzip7zFile failed, save path failed. path:",
    "TrayUnzip7zFile, un_zip failed path:",
    &Extract7z,
};

bool Unpack(const PackageKind& kind, HMODULE module, int resource_id,
            const std::wstring& package_path, const std::wstring& dest_dir) {
  std::string bytes;
  if (!LoadResourceData(module, resource_id, L"ZIPRES", &bytes)) {
    LOG(Error) << kind.read_failed << package_path;
    return false;
  }
  int64_t saved = SaveDataToFile(package_path, bytes);
  if (saved <= 0) {
    LOG(Error) << kind.save_failed << package_path << " error" << -saved;
    return false;
  }
  if (::GetFileAttributesW(package_path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  int result = kind.extract(package_path, dest_dir);
  if (result < 0) {
    LOG(Error) << kind.unpack_failed << dest_dir << "error=" << result;
    return false;
  }
  return true;
}

}  // namespace

bool TrayUnZipFile2(int resource_id, const std::wstring& package_path,
                    const std::wstring& dest_dir) {
  return Unpack(kZip, ::GetModuleHandleW(nullptr), resource_id, package_path, dest_dir);
}

bool TrayUnzip7zFile(int resource_id, const std::wstring& package_path,
                     const std::wstring& dest_dir) {
  return Unpack(k7z, ::GetModuleHandleW(nullptr), resource_id, package_path, dest_dir);
}

bool TrayUnZipFile2(HMODULE module, int resource_id, const std::wstring& package_path,
                    const std::wstring& dest_dir) {
  return Unpack(kZip, module, resource_id, package_path, dest_dir);
}

bool TrayUnzip7zFile(HMODULE module, int resource_id, const std::wstring& package_path,
                     const std::wstring& dest_dir) {
  return Unpack(k7z, module, resource_id, package_path, dest_dir);
}

}  // namespace utils
