// User-visible texts by string id: the current language's string-table file
// "0x%04x.ini" (section of the language, key = the id in decimal) first, then the
// launcher's own string resources (see languages.h).
#pragma once
#include <string>

struct LaunchSettings;

std::wstring load_string(const LaunchSettings& settings, unsigned id);
// The same with the process's published launch settings (resources only before them).
std::wstring load_string(unsigned id);
