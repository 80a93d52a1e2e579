#include "window/help_texts.h"

namespace talvo::window {

const char* daemonHelpHtml() {
  return R"(<h2>Talvo Daemon</h2>
<p>The Talvo Daemon is the activation daemon of the Talvo object request
broker. It keeps the implementation repository of this host's servers,
launches a server when a client binds to it, and serves the management
interface <tt>QV_daemon</tt> that <tt>talvoctl</tt> uses. This window shows
what the daemon reports; requests are served while it is open, also while a
dialog is shown.</p>
<h3>Contents</h3>
<ul>
<li><b>Daemon &rarr; Output...</b> sets how much the daemon reports:
Silent, Default (one line per connection and event) or Maximum (a line per
request). The level is used at once and kept in the settings store
(<tt>TraceLevel</tt>).</li>
<li><b>Daemon &rarr; Configuration...</b> shows the configuration the
daemon started with: host name, domain, daemon port, the ports handed to
servers, the locator, interface and implementation repositories and the
errors file.</li>
<li><b>Daemon &rarr; Stop</b> (tray mode) stops the daemon in order: the
interoperable reference is written when asked for, and the program ends.
</li>
<li><b>Daemon &rarr; Exit</b> ends the program; in tray mode it only hides
the window (double-click the tray icon to show it again).</li>
<li><b>Edit &rarr; Clear</b> empties this window.</li>
<li><b>View &rarr; Status Bar</b> shows or hides the status bar.</li>
<li><b>Ctrl+O</b> opens the daemon's options: reap time, unregistered
persistent servers, protected mode, the interoperable-reference file and
the log file. They take effect at the next start.</li>
</ul>
<h3>Settings and configuration</h3>
<p>The daemon's settings are the values of the key
<tt>SOFTWARE\Brevan Technologies\Talvo\2.3c\Daemon</tt> of the settings store
(the file named by <tt>QV_REGISTRY</tt>, by default
<tt>/etc/talvo/registry</tt>). The configuration variables (<tt>QV_...</tt>)
come from the environment, the configuration file <tt>Talvo.cfg</tt> and the
settings store's Configuration key, in that order.</p>
<p>SIGINT and SIGTERM stop the daemon as <b>Stop</b> does.</p>)";
}

const char* optionsHelpHtml() {
  return R"(<h2>Talvo Daemon Options</h2>
<p>These settings are written to the settings store when you press OK and
take effect when the daemon starts next.</p>
<dl>
<dt><b>Reap Chlid Processes (Seconds)</b> (<tt>ReapTime</tt>)</dt>
<dd>How often the daemon looks for ended server processes, 1 to 999
seconds; 20 by default.</dd>
<dt><b>Allow invocations on unregistered persistent servers</b>
(<tt>UPS</tt>)</dt>
<dd>Accept servers started by hand that have no record in the
implementation repository.</dd>
<dt><b>Run the Daemon in protected mode</b> (<tt>Protected</tt>)</dt>
<dd>Only the user the daemon runs as, from this host, may change the
repository or stop servers.</dd>
<dt><b>Log Interoperable referance to file</b> (<tt>Interop</tt>,
<tt>InteropFile</tt>)</dt>
<dd>When the daemon stops, write its interoperable object reference
(<tt>IOR:...</tt>) to the file, so that any ORB can reach it.</dd>
<dt><b>Log Daemon output to file</b> (<tt>Log</tt>, <tt>LogFile</tt>)</dt>
<dd>Write everything the daemon reports to the file as well as to its
window. The file is emptied at each start.</dd>
</dl>
<p><b>Set Defaults</b> fills in the default values without writing them;
<b>Cancel</b> leaves the settings as they were.</p>)";
}

}  // namespace talvo::window
