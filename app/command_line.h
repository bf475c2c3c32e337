// Switches and loose arguments of a command line. Lookups are case-sensitive
// and tolerate a leading "-", "--", "/" or "/-" on the name asked for.
#pragma once

#include <map>
#include <string>
#include <vector>

class CCommandLine {
 public:
  CCommandLine() = default;
  virtual ~CCommandLine() = default;

  // |text| is the argument text without the program path. Always true.
  bool Parse(const std::wstring& text);
  bool HasSwitch(const std::wstring& name) const;
  // |value| is emptied first and receives the switch's value when found.
  bool GetSwitchValue(const std::wstring& name, std::wstring& value) const;
  void Reset();

  const std::map<std::wstring, std::wstring>& switches() const { return switches_; }
  const std::vector<std::wstring>& loose_args() const { return loose_args_; }
  const std::wstring& text() const { return text_; }

 private:
  void AddToken(size_t first, size_t last, size_t equals);
  const std::wstring* Find(const std::wstring& name) const;

  std::map<std::wstring, std::wstring> switches_;
  std::vector<std::wstring> loose_args_;
  std::wstring text_;
};
