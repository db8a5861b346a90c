// Base of the steps of the setup chain (OSAction, DiskAction, MsiAction). An
// action lives only while it runs; it works on a session it does not own.
#pragma once

class Session;

class Action {
 public:
  // A non-zero status-text id shows that text in the setup dialog's status line.
  explicit Action(Session& session, unsigned status_text_id = 0);
  virtual ~Action();
  Action(const Action&) = delete;
  Action& operator=(const Action&) = delete;

  // Non-zero: success. On failure the process exit code holds the reason.
  virtual int execute() = 0;

  bool started() const { return started_ != 0; }

 protected:
  void mark_started() { started_ = 1; }

  int started_ = 0;
  Session* session_;
};
