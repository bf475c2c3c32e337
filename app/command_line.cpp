#include "app/command_line.h"

namespace {

constexpr size_t kNone = std::wstring::npos;

bool IsSwitchPrefix(wchar_t c) { return c == L'-' || c == L'/'; }

}  // namespace

// Format notes: tokens are separated by spaces only (tabs are ordinary
// characters). A double quote not preceded by a backslash toggles quoting, and
// spaces inside quotes do not end a token; quotes are never removed except the
// pair around a whole switch value.
bool CCommandLine::Parse(const std::wstring& text) {
  text_ = text;
  const size_t n = text_.size();
  size_t i = 0;
  while (i < n) {
    if (text_[i] == L' ') {
      ++i;
      continue;
    }
    bool quoted = false;
    size_t equals = kNone;
    size_t j = i;
    for (; j < n; ++j) {
      wchar_t c = text_[j];
      if (c == L'"' && (j == 0 || text_[j - 1] != L'\\')) {
        quoted = !quoted;
      } else if (c == L' ' && !quoted) {
        break;
      } else if (c == L'=' && equals == kNone) {
        equals = j;
      }
    }
    AddToken(i, j - 1, equals);
    i = j + 1;
  }
  return true;
}

void CCommandLine::AddToken(size_t first, size_t last, size_t equals) {
  const size_t length = last - first + 1;
  if (length < 2 || !IsSwitchPrefix(text_[first])) {
    loose_args_.push_back(text_.substr(first, length));
    return;
  }
  size_t nameStart = first + 1;
  if (text_[first + 1] == L'-') ++nameStart;

  std::wstring name;
  std::wstring value;
  if (equals == kNone) {
    if (nameStart <= last) name = text_.substr(nameStart, last - nameStart + 1);
  } else {
    if (equals > nameStart) name = text_.substr(nameStart, equals - nameStart);
    if (equals < last) value = text_.substr(equals + 1, last - equals);
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
      value = value.substr(1, value.size() - 2);
    }
  }
  if (name.empty()) return;  // "--" and "/-" name nothing
  switches_[name] = value;
}

const std::wstring* CCommandLine::Find(const std::wstring& name) const {
  auto it = switches_.find(name);
  if (it != switches_.end()) return &it->second;
  if (name.size() > 1 && IsSwitchPrefix(name[0])) {
    size_t strip = name[1] == L'-' ? 2 : 1;
    it = switches_.find(name.substr(strip));
    if (it != switches_.end()) return &it->second;
  }
  return nullptr;
}

bool CCommandLine::HasSwitch(const std::wstring& name) const { return Find(name) != nullptr; }

bool CCommandLine::GetSwitchValue(const std::wstring& name, std::wstring& value) const {
  value.clear();
  const std::wstring* found = Find(name);
  if (!found) return false;
  value = *found;
  return true;
}

void CCommandLine::Reset() {
  switches_.clear();
  loose_args_.clear();
  text_.clear();
}
