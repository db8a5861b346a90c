#include "ScriptInitProgress.h"

#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "session.h"

namespace {
constexpr unsigned kTextPreparingInstall = 1624;
constexpr unsigned kTextPreparingUninstall = 2160;
}  // namespace

CScriptInitProgressHandler::CScriptInitProgressHandler(Session* session, bool remove_only)
    : session_(session), remove_only_(remove_only) {}

HRESULT STDMETHODCALLTYPE CScriptInitProgressHandler::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISetupInitializationProgress)) {
    *object = static_cast<ISetupInitializationProgress*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CScriptInitProgressHandler::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE CScriptInitProgressHandler::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE CScriptInitProgressHandler::begin() {
  if (session_) {
    session_->set_status_text(
        load_string(session_->settings(), remove_only_ ? kTextPreparingUninstall : kTextPreparingInstall));
    session_->set_progress(0);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CScriptInitProgressHandler::progress(int percent) {
  if (session_) session_->set_progress(percent < 0 ? 0 : percent > 100 ? 100 : percent);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CScriptInitProgressHandler::end() {
  if (!session_) return S_OK;
  session_->set_progress(100);
  if (!session_->wait_out_splash()) return E_ABORT;
  session_->hide_setup_dialog();
  return S_OK;
}
