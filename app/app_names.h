// Process-wide names derived from the product family name and the game id.
#pragma once

#include <string>

class AppNames {
 public:
  // Created on first use under a process-wide lock; lives until the process ends.
  static AppNames* GetInstance();

  // Fills the names; does nothing when |family_name| is empty.
  void Init(const std::wstring& family_name, const std::wstring& game_id);

  const std::wstring& family_name() const { return family_name_; }
  const std::wstring& product_name() const { return product_name_; }
  const std::wstring& log_path() const { return log_path_; }
  const std::wstring& product_key() const { return product_key_; }
  const std::wstring& web_window_class() const { return web_window_class_; }
  const std::wstring& message_box_class() const { return message_box_class_; }
  const std::wstring& tray_message_name() const { return tray_message_name_; }
  const std::wstring& data_dir() const { return data_dir_; }

 private:
  AppNames();

  std::wstring family_name_;
  std::wstring product_name_;
  std::wstring log_path_;
  std::wstring product_key_;
  std::wstring web_window_class_;
  std::wstring message_box_class_;
  std::wstring tray_message_name_;
  std::wstring data_dir_;
};
