// Message boxes: fatal messages that the user must see.
//
// showMessageBox() hands a title and a text to the current hook. Without a
// hook (the console program) it writes "<title>: <text>" and a line end to
// standard error and logs the same text to syslog at LOG_ERR; the windowed
// program installs a hook that shows a real box.
//
// The default output allocates no memory, so it can be used when memory has
// run out.
//
// Thread safety: showMessageBox() and setMessageBoxHook() may be called from
// any thread; a hook runs on the caller's thread.

#ifndef TALVO_PLATFORM_MESSAGE_BOX_H_
#define TALVO_PLATFORM_MESSAGE_BOX_H_

#include <functional>
#include <string_view>

namespace talvo::platform {

using MessageBoxHook =
    std::function<void(std::string_view title, std::string_view text)>;

// Shows `text` under `title` and returns when the user has seen it (the
// default output returns at once).
void showMessageBox(std::string_view title, std::string_view text);

// Replaces the hook (an empty hook restores the default output) and returns
// the previous one.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// The default output: standard error and syslog.
void writeMessageBoxText(std::string_view title, std::string_view text);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_MESSAGE_BOX_H_
