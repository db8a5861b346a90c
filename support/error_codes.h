// portable
// Every numbered error and exit code the launcher uses, each named once. Deployment
// tools read these numbers: their meanings never change. A number between 1000 and
// 9999 is also the string-table id of the message shown for it.
#pragma once

namespace err {

// ---- results a run ends with -----------------------------------------------
inline constexpr int kSuccess = 0;
inline constexpr int kCancelled = -1;                 // the user cancelled (any dialog of the launcher)
inline constexpr int kNotStarted = static_cast<int>(0xCCCCCCCC);  // a program (the clone, msiexec) could not be started
inline constexpr int kRestartPending = 7002;          // the run ended with a restart of the computer pending
inline constexpr int kChildRequestsRestart = 7003;    // the elevated prerequisite pass asks its caller to restart
inline constexpr int kRestartRequired = 3010;         // setup stopped for a restart a prerequisite needs; it resumes after it

// ---- the launch and its settings --------------------------------------------
inline constexpr int kUnsupportedSystem = 1150;       // the operating system is not one the setup runs on
inline constexpr int kNoTemporaryLocation = 1151;     // no temporary location with room that can be written
inline constexpr int kExtractionFailed = 1152;        // a member of the setup stream could not be extracted
inline constexpr int kSettingsUnreadable = 1153;      // setup.ini missing, unreadable or without a package name
inline constexpr int kFileNotFound = 1155;            // a file the setup needs is missing
inline constexpr int kInstallerNotStarted = 1157;     // msiexec could not be started (or its command line is too long)
inline constexpr int kInvalidCommandLine = 1203;      // a switch is not recognised or not allowed here
inline constexpr int kCodePageMissing = 1208;         // the chosen language's ANSI code page is not installed
inline constexpr int kWrongPassword = 1209;           // the setup password is missing or wrong, or nobody could be asked
inline constexpr int kAnotherInstanceRunning = 2197;  // another launcher of this product runs (MultipleExeLaunch)
inline constexpr int kLibraryRedirection = 1158;      // "<launcher>.local" exists: libraries would load from it (log only)

// ---- the package -------------------------------------------------------------
inline constexpr int kNoCacheFolder = 1610;           // the package cannot be cached and no other folder was chosen
inline constexpr int kNotTrusted = 1621;              // a file's signature is not the expected one (or not valid)
inline constexpr int kUnableToSave = 1627;            // the package name has no file part to cache it under
inline constexpr int kEngineTooOld = 1713;            // msi.dll is older than the package's embedded user interface needs
inline constexpr int kSignerMismatch = 2161;          // the package is not signed by the launcher's own signer
inline constexpr int kNewerVersionInstalled = 1638;   // a later version of the product is installed (msiexec's own code)
inline constexpr int kUserDeclined = 1602;            // the user answered No to going on (msiexec's own code)

// ---- prerequisites -----------------------------------------------------------
inline constexpr int kPrerequisiteFilesMissing = 1655;  // a prerequisite's files could not be placed (missing,
                                                        // failed copy or wrong checksum)
inline constexpr int kPrerequisiteFailed = 1667;        // a prerequisite still is needed after its run, or could not run

// ---- the script engine -------------------------------------------------------
inline constexpr int kNoEngineLibrary = 7001;         // the engine library is neither beside the launcher nor carried
inline constexpr int kEngineNotLoaded = 1670;         // the engine library could not be loaded or lacks its entry point
inline constexpr int kEngineFailed = 1628;            // the engine reported a failure of its own
inline constexpr int kEngineBadCommandLine = 1629;    // the engine refused its command line (its answer -4)
inline constexpr int kEngineNoPrivileges = 1644;      // the rights needed are missing (the engine's answer -7, or
                                                      // prerequisites that need elevation in a run that cannot ask)
inline constexpr int kBadRemovalValue = -4;

// ---- the Internet transport (Win32 numbers, carried as the thread's last error) --
inline constexpr int kTransferMismatch = 13;          // a resumed answer is not the part asked for (wrong
                                                      // Content-Range, or another total size)
inline constexpr int kTransferIncomplete = 38;        // the transfer ended before the size the server announced,
                                                      // also after its resumes           // /removeasmajorupgrade without three or four parts

}  // namespace err
