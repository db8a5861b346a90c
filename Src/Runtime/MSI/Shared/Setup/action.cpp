#include "action.h"

#include "package/load_string.h"
#include "run_steps.h"
#include "session.h"

Action::Action(Session& session, unsigned status_text_id) : session_(&session) {
  if (status_text_id != 0) set_status_text(session, load_string(session.settings(), status_text_id));
}

Action::~Action() = default;
