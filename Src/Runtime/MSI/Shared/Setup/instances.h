// Multiple instances of a product: the instance table with the installed states,
// and the one a run works on (an existing one, a new one, or all of them for a
// patch), applied to the session and its msiexec property list.
#pragma once
#include <string>

class Session;

// Loads the instance table once per session; true when the settings define at
// least one instance.
bool detect_instances(Session& session);

enum InstanceChoice { kInstanceChoiceFailed = 0, kInstanceChosen = 1, kInstanceChosenChooseLanguage = 2 };
// Chooses the instance (silently or in its dialog) and applies it to the session.
// kInstanceChoiceFailed stops the launch (the result code holds the reason);
// kInstanceChosenChooseLanguage: the user picked another instance, whose product
// language the language choice should take.
int choose_instance(Session& session);

// The properties of an instance of the loaded table (empty when unknown): its own
// setting, else what the Windows Installer knows of the installed or related product.
std::wstring instance_product_code(Session& session, int id);
std::wstring instance_package_code(Session& session, int id);
std::wstring instance_product_version(Session& session, int id);
std::wstring instance_product_name(Session& session, int id);
std::wstring instance_install_location(Session& session, int id);
bool instance_installed(Session& session, int id);
