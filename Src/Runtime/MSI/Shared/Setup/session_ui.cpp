// The session's user-interface edge: numbered errors and questions. One place, so
// the error dialog and the launcher's message box take over by changing these.
#include <windows.h>

#include "LaunchSettings.h"
#include "package/load_string.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_ui";

namespace {

constexpr size_t kMessageCapacity = 1024;

// The text's first "%s" (or "%ls") becomes arg and "%%" a single "%"; nothing else
// is interpreted, so a translated text with stray placeholders cannot read
// arguments that were never passed.
std::wstring fill_text(const std::wstring& text, const std::wstring& arg) {
  std::wstring out;
  bool filled = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 1 < text.size()) {
      if (text[i + 1] == L'%') {
        out.push_back(L'%');
        ++i;
        continue;
      }
      size_t n = text.compare(i, 3, L"%ls") == 0 ? 3 : text.compare(i, 2, L"%s") == 0 ? 2 : 0;
      if (n && !filled) {
        out += arg;
        filled = true;
        i += n - 1;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

void show_session_error(const LaunchSettings& settings, unsigned id, const std::wstring& arg) {
  std::wstring text = zString::format(L"%u: ", id) + fill_text(load_string(settings, id), arg);
  if (text.size() > kMessageCapacity - 1) text.resize(kMessageCapacity - 1);
  QZ_LOG(L"%s", text.c_str());
  if (settings.silent) return;
  const wchar_t* caption = settings.product_name.empty() ? nullptr : settings.product_name.c_str();
  MessageBoxW(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR);
}

int ask_session_question(const LaunchSettings& settings, const std::wstring& text, UINT style, int silent_answer) {
  if (settings.silent) return silent_answer;
  const wchar_t* caption = settings.product_name.empty() ? nullptr : settings.product_name.c_str();
  return MessageBoxW(nullptr, text.c_str(), caption, style);
}
