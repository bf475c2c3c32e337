// Shell links (.lnk files) through the shell's link object.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "base/logging.h"
#include "base/scoped_handle.h"
#include "utils/utils.h"

namespace utils {

bool CreateShortcut(const std::wstring& /*name*/, const std::wstring& target,
                    const std::wstring& args, const std::wstring& link_path,
                    const std::wstring& icon_path, int icon_index) {
  if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return false;

  base::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.ReceiveVoid()))) {
    return false;
  }
  if (FAILED(link->SetPath(target.c_str()))) return false;
  if (!args.empty() && FAILED(link->SetArguments(args.c_str()))) return false;
  if (FAILED(link->SetShowCmd(SW_SHOW))) return false;
  if (icon_index >= 0) {
    // Stored in its short (8.3) form; a path without one (the icon file is
    // missing) is stored as given.
    wchar_t short_path[MAX_PATH] = {};
    const DWORD n = ::GetShortPathNameW(icon_path.c_str(), short_path, MAX_PATH);
    const std::wstring location = n > 0 && n < MAX_PATH ? std::wstring(short_path, n) : icon_path;
    if (FAILED(link->SetIconLocation(location.c_str(), icon_index))) return false;
  }
  if (FAILED(link->SetWorkingDirectory(GetDirOfPath(target).c_str()))) return false;

  base::ComPtr<IPersistFile> file;
  if (FAILED(link.As(&file))) return false;
  if (FAILED(file->Save(link_path.c_str(), TRUE))) return false;
  LOG(Debug) << "CreateShortcut, create <<" << link_path << " success";
  return true;
}

}  // namespace utils
