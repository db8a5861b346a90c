#include "package/dialog_factory.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/LaunchSettings.h"
#include "package/language_rules.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"package\\dialog_factory";

namespace {

// The rewritten template in DWORD-aligned storage, as the dialog functions need it.
bool prepare_template(const LaunchSettings& settings, HINSTANCE module, int template_id, unsigned flags,
                      std::vector<DWORD>* storage) {
  if (settings.silent && !(flags & kDialogEvenIfSilent)) {
    QZ_LOG(L"Dialog %d not created: silent launch", template_id);
    SetLastError(ERROR_CANCELLED);
    return false;
  }
  // MAKEINTRESOURCE keeps only 16 bits: a larger number (setup.ini's `UI` is any
  // int) would name some other template.
  if (template_id <= 0 || template_id > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(template_id), RT_DIALOG);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) {
    if (GetLastError() == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  const uint16_t language = settings.ui_language;
  lang::DialogFontSpec font = dialog_font(settings, language);
  std::u16string face(font.face.begin(), font.face.end());
  std::optional<std::vector<uint8_t>> bytes = lang::rewrite_dialog_template(
      static_cast<const uint8_t*>(data), SizeofResource(module, found), (flags & kDialogKeepFont) != 0, face,
      font.size, language_charset(language), is_rtl_language(settings, language));
  if (!bytes) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  storage->assign((bytes->size() + 3) / 4, 0);
  memcpy(storage->data(), bytes->data(), bytes->size());
  return true;
}

}  // namespace

INT_PTR dialog_box(const LaunchSettings& settings, HINSTANCE module, int template_id, HWND parent, DLGPROC proc,
                   LPARAM param, unsigned flags) {
  std::vector<DWORD> storage;
  if (!prepare_template(settings, module, template_id, flags, &storage)) return -1;
  SetLastError(0);
  return DialogBoxIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(storage.data()), parent, proc, param);
}

HWND create_dialog(const LaunchSettings& settings, HINSTANCE module, int template_id, HWND parent, DLGPROC proc,
                   LPARAM param, unsigned flags) {
  std::vector<DWORD> storage;
  if (!prepare_template(settings, module, template_id, flags, &storage)) return nullptr;
  // The system copies the template while creating the dialog.
  return CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(storage.data()), parent, proc, param);
}
