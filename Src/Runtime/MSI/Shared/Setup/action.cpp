#include "action.h"

#include "package/load_string.h"
#include "session.h"

Action::Action(Session& session, unsigned status_text_id) : session_(&session) {
  if (status_text_id != 0) session.set_status_text(load_string(session.settings(), status_text_id));
}

Action::~Action() = default;
