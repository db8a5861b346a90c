// The setup driver of an in-process run: creates the session, feeds it the
// command line, applies the single-instance rule, runs the action chain and maps
// the process-wide exit code through the custom return codes.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

struct LaunchSettings;
class Session;

class QzSetup {
 public:
  QzSetup();
  virtual ~QzSetup();

  bool init(HINSTANCE module, int argc, wchar_t** argv, const std::wstring& clone_path,
            const std::wstring& debug_log_path, LaunchSettings& settings);
  int run();
#ifdef QZ_PREREQUISITES
  int run_prerequisites(const std::wstring& features);
  int advertise();
#endif
  int exit_code(int code);

  Session* session() { return session_.get(); }
  // Replaces how exit_code reads setup.ini before the session has it (tests).
  void set_setting_reader(std::function<std::wstring(const std::wstring& key)> read) { read_startup_ = std::move(read); }

 private:
  HINSTANCE module_ = nullptr;
  std::function<std::wstring(const std::wstring& key)> read_startup_;
  std::unique_ptr<Session> session_;
};

// True when another instance of this product's setup runs (`MultipleExeLaunch`);
// otherwise *mutex may hold the taken lock for the caller to release and close.
bool check_single_instance(HANDLE* mutex);
// The same with the values of setup.ini read through `read` (section, key).
using PackagedSettingReader = std::function<std::wstring(const std::wstring& section, const std::wstring& key)>;
bool check_single_instance(HANDLE* mutex, const PackagedSettingReader& read);

// Shown when another instance holds the product's mutex and text 2010 is empty.
extern const wchar_t kAnotherInstanceText[];

// The preparation of a normal run (system record, disk check and setup.ini,
// instances, language, restart question, password). False: the run stops; the
// exit code holds the reason.
bool prepare_session(Session& session);
