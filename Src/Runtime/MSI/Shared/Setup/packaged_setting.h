// Reading one setup.ini value before any session exists.
#pragma once
#include <string>

// The value of `key` in `section` of the package's setup.ini, at most `capacity`
// characters (empty when missing).
std::wstring read_packaged_setting(const std::wstring& section, const std::wstring& key, size_t capacity = 260);
