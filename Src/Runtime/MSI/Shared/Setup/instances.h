// Multiple instances of a product: the installed instances, and the one a run
// works on (an existing one, a new one, or all of them for a patch).
#pragma once

class Session;

// True when installed instances of the product exist.
bool detect_instances(Session& session);

enum InstanceChoice { kInstanceChoiceFailed = 0, kInstanceChosen = 1, kInstanceChosenChooseLanguage = 2 };
// Chooses the instance (silently or in its dialog) and applies it to the session.
// kInstanceChoiceFailed stops the launch (the result code holds the reason).
int choose_instance(Session& session);
