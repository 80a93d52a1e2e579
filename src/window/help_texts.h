// The help texts that ship with talvodw: the daemon's ("daemon.hlp", F1 and
// Help -> Contents in the main window) and the options' ("talref.hlp", F1
// in the options dialog), as HTML.
//
// Threading: constants.

#ifndef TALVO_WINDOW_HELP_TEXTS_H_
#define TALVO_WINDOW_HELP_TEXTS_H_

namespace talvo::window {

const char* daemonHelpHtml();
const char* optionsHelpHtml();

}  // namespace talvo::window

#endif  // TALVO_WINDOW_HELP_TEXTS_H_
