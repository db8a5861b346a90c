// Process-wide COM security of the launcher.
#pragma once

// Calls made into this process are accepted from Administrators, Local Service,
// Network Service, Self and Local System only, with packet privacy and identify
// impersonation. False when any step fails (the launcher goes on regardless).
bool set_process_com_security();
