// The maker's product tables, keyed by product id (ascending). The client is
// always product 0; the other rows describe the maker's other products and are
// only placeholders here (their ids still carry the rules below).
#pragma once

#include <string_view>

namespace telemetry {

struct ProductRow {
  int id;
  // Relative to the executable's folder; its presence identifies the product.
  const wchar_t* marker_file;
  // Folder under the roaming application-data folder.
  const wchar_t* data_folder;
  // Key holding the channel value (HKEY_LOCAL_MACHINE, 32-bit view, unless the
  // id reads it from HKEY_CURRENT_USER).
  const wchar_t* registry_key;
  // Value for "{app}".
  const wchar_t* app_name;
  // Used when the reporter is initialised without a template.
  const wchar_t* default_template;
};

// Null for an unknown id.
const ProductRow* FindProduct(int id);
// All rows, ascending by id.
const ProductRow* ProductRows(int* count);

// Rules bound to product ids.
bool UsesZovSettingsFile(int id);        // "zov\zov.set" instead of "<data folder>\config.ini"
const wchar_t* ChannelValueName(int id);  // "VendorID" or "PID"
bool ChannelFromCurrentUser(int id);
bool ChannelJoinsSubPid(int id);          // "PID" + "__" + "SUBPID"
inline constexpr int kAppPathsProduct = 8;  // also found under its data folder; versioned via "App Paths"

// The accepted publisher names (case ignored when compared).
bool IsAcceptedPublisher(std::wstring_view display_name);

}  // namespace telemetry
