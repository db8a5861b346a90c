// portable
// Rules of the clean-up: which recorded paths it may remove with all their
// contents, the keys it writes into the deletion list, and the pace of its passes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace cleanup_rules {

// True when `path` names `folder` itself or something below it: whole components,
// "\" or "/" as separators, ASCII letters compared ignoring case, a trailing
// separator on either side ignored. Never true when either contains a component
// that the system could read as "." or ".." (any run of dots and blanks), nor
// for an empty folder.
bool lies_within(std::wstring_view path, std::wstring_view folder);
// lies_within and not the folder itself.
bool lies_below(std::wstring_view path, std::wstring_view folder);

// The folders strictly between `folder` and `path`, each as the leading part of
// `path`'s text ("C:\t\a" and "C:\t\a\b" for "C:\t\a\b\f" below "C:\t");
// none unless `path` lies below `folder`.
std::vector<std::wstring> folders_between(std::wstring_view path, std::wstring_view folder);

// True when `path` lies within one of the folders the run has made.
bool made_by_run(std::wstring_view path, const std::vector<std::wstring>& made);

// A key the list can hold for a wanted key: "=" (which would split the line),
// line breaks, leading ";", "[" (comment, section), and leading or trailing blanks
// and tabs (which the reader trims) each become "|". No file name holds "|", so a changed key never
// meets the key of another file's name.
std::wstring list_key(std::wstring_view wanted);

// The pace of the passes. A pass that shortened the list and found nothing in use
// (an unreadable, undeletable or unsaveable list counts as in use) is followed by
// the next one at once: waiting would only delay the end of the setup. After any
// other pass the next one waits for the timer, giving a holder time to let go,
// and only those waited passes count toward the limit, so a held file is still
// retried for about the limit's number of timer periods.
bool must_wait(bool shortened, bool in_use);
// The count of waited passes after a pass that found `before`.
int waited_passes(int before, bool shortened, bool in_use);

}  // namespace cleanup_rules
