// User-visible texts by string id: the current language's string-table file
// "0x%04x.ini" (section of the language, key = the id in decimal) first, then the
// launcher's own string resources.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "package/language_rules.h"

struct LaunchSettings;

std::wstring load_string(const LaunchSettings& settings, unsigned id);
// The same with the process's published launch settings (resources only before them).
std::wstring load_string(unsigned id);

// The string-table file of a language: beside setup.ini; empty while setup.ini
// has no folder yet (the resources answer then).
std::wstring string_table_path(const LaunchSettings& settings, uint16_t language);
// The text of `key` in `section` of the language's string-table file; empty when
// the file or the text is missing. Texts are cut at lang::kMaxTextLength.
std::wstring string_table_text(const LaunchSettings& settings, uint16_t language, const std::wstring& section,
                               const std::wstring& key);
// String `id` from the launcher's string resources in the lookup order of
// lang::string_resource_languages; empty when none holds it.
std::wstring resource_string(HMODULE module, unsigned id, uint16_t language);
// The dialog font named by the language's string-table file (the defaults without one).
lang::DialogFontSpec dialog_font(const LaunchSettings& settings, uint16_t language);
