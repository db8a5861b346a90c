// User-visible texts by string id: the current language's string-table file
// first, then the launcher's own string resources.
#pragma once
#include <string>

struct LaunchSettings;

std::wstring load_string(const LaunchSettings& settings, unsigned id);
// The same with the process's published launch settings (resources only before them).
std::wstring load_string(unsigned id);
