// Reading one setup.ini value before any session exists.
#pragma once
#include <string>

// The value of `key` in `section` of the package's setup.ini, at most `capacity`
// characters (empty when missing): taken from the launcher's stream member
// "Setup.INI" when there is one, else from the setup.ini already extracted, else
// from the one beside the launcher.
std::wstring read_packaged_setting(const std::wstring& section, const std::wstring& key, size_t capacity = 260);
// False when the stream carries "Setup.INI" or "Setting.INI" but it cannot be read
// (the reason is logged): every value read from it is then empty, which is not
// what the package says, and the run must not go on as if it were.
bool packaged_settings_readable();
// The same from the stream member "Setting.INI"; empty when the stream has none.
std::wstring read_packaged_setting_ini(const std::wstring& section, const std::wstring& key, size_t capacity = 260);

// Both over a given launcher file (a copy, or a test image).
std::wstring read_packaged_setting_from(const std::wstring& launcher, const std::wstring& section,
                                        const std::wstring& key, size_t capacity);
bool packaged_settings_readable_from(const std::wstring& launcher);
std::wstring read_packaged_setting_ini_from(const std::wstring& launcher, const std::wstring& section,
                                            const std::wstring& key, size_t capacity);
