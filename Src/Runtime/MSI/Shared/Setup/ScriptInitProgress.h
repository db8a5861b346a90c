// The progress object the script engine drives the initialisation dialog through
// while it prepares the installation.
#pragma once
#include <windows.h>
#include <unknwn.h>

class Session;

// {B47B5571-6E39-46D9-804A-C897991B4F3F}
inline constexpr IID IID_ISetupInitializationProgress = {
    0xB47B5571, 0x6E39, 0x46D9, {0x80, 0x4A, 0xC8, 0x97, 0x99, 0x1B, 0x4F, 0x3F}};

// The engine calls these in slot order after IUnknown's.
struct ISetupInitializationProgress : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE begin() = 0;
  virtual HRESULT STDMETHODCALLTYPE progress(int percent) = 0;
  // E_ABORT when the user cancelled while the splash time was waited out.
  virtual HRESULT STDMETHODCALLTYPE end() = 0;
};

// Single-threaded, reference counted; deletes itself with its last reference.
// Without a session (the run after a restart) the calls only answer.
class CScriptInitProgressHandler final : public ISetupInitializationProgress {
 public:
  // One reference, the caller's.
  CScriptInitProgressHandler(Session* session, bool remove_only);
  CScriptInitProgressHandler(const CScriptInitProgressHandler&) = delete;
  CScriptInitProgressHandler& operator=(const CScriptInitProgressHandler&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE begin() override;
  HRESULT STDMETHODCALLTYPE progress(int percent) override;
  HRESULT STDMETHODCALLTYPE end() override;

 private:
  ~CScriptInitProgressHandler() = default;
  ULONG references_ = 1;
  Session* session_;
  bool remove_only_;
};
