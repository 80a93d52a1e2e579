// The service manager (systemd): status reports through sd_notify, whether
// the process was started by the manager, and the unit file that installs
// the program as a service.
//
// A service named "Talvo Daemon" is the unit "talvo-daemon.service" in the
// service directory: the environment variable QV_SERVICE_DIR, else
// "/etc/systemd/system". Installed means that the unit file exists.
//
// Thread safety: all functions may be called from any thread.

#ifndef TALVO_PLATFORM_SERVICE_MANAGER_H_
#define TALVO_PLATFORM_SERVICE_MANAGER_H_

#include <string>

namespace talvo::platform {

// True exactly when NOTIFY_SOCKET is set and not empty.
bool startedByServiceManager();

// Sends `state` (for example "READY=1") to the service manager. False when
// no manager listens or the message could not be sent.
bool notifyServiceManager(const std::string& state);

// QV_SERVICE_DIR, or "/etc/systemd/system" when it is unset or empty.
std::string serviceDirectory();

// The unit name of a service: lower case, blanks as "-", ".service" added
// ("Talvo Daemon" gives "talvo-daemon.service").
std::string unitNameFor(const std::string& service_name);

// The full path of the unit file of `service_name`.
std::string unitFilePath(const std::string& service_name);

// The unit text: Type=notify, ExecStart the program (quoted and escaped for
// systemd), KillSignal=SIGUSR1 with exit status 3 counted as success, and
// KillMode=process so that launched servers outlive a restart; started on
// demand (nothing enables it).
std::string unitFileText(const std::string& service_name,
                         const std::string& program_path);

bool unitFileExists(const std::string& service_name);

// Writes the unit file through a temporary file in the same directory,
// flushed and renamed over the target. Returns 0 or the errno of the failing
// call.
int writeUnitFile(const std::string& service_name,
                  const std::string& program_path);

// Removes the unit file. Returns 0 or the errno of the failing call.
int removeUnitFile(const std::string& service_name);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SERVICE_MANAGER_H_
