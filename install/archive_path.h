// Item names from archives are untrusted: a name such as "..\..\x.dll" or
// "C:\x.dll" would otherwise write outside the folder being unpacked into.
// Both archive readers pass every name through here before any file is made.
#pragma once

#include <string>
#include <string_view>

namespace archive_path {

// Turns an item name into a path relative to the destination, with every "/"
// as "\". Refuses (false, |relative| untouched) an empty name, a rooted name
// ("\x", "\\server\share"), any ":" (drive letters, alternate streams), a NUL,
// and any component made only of dots and blanks other than "." (".." and
// the forms Windows folds into it).
bool MakeRelativePath(std::wstring_view name, std::wstring* relative);

}  // namespace archive_path
