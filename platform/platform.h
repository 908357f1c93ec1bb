// platform.h: the platform seam as a whole: one object per service, and the
// backend chosen once at start-up.
//
// Code outside platform/ reaches the operating system only through
// platform_services(). On the host system that is the Win32 backend; on any
// other host it is the simulated machine named by the environment variable
// VREX_SIM_MACHINE (a JSON file), or the built-in demo machine without it.
#pragma once

#include "platform/device_installer.h"
#include "platform/device_io.h"
#include "platform/ip_helper.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/shell_folders.h"
#include "platform/system_libraries.h"
#include "platform/types.h"
#include "platform/wmi.h"

namespace plat {

struct Services {
  DeviceInstaller* devices = nullptr;
  Registry* registry = nullptr;
  ServiceManager* scm = nullptr;
  SystemLibraries* libraries = nullptr;
  DeviceIo* device_io = nullptr;
  IpHelper* ip_helper = nullptr;
  Com* com = nullptr;
  ShellFolders* shell = nullptr;
  Kernel* kernel = nullptr;
};

// The services of the backend in use. The first call chooses and builds the
// default backend; a machine description that cannot be loaded is reported
// on standard error once and replaced by a machine without devices.
Services& platform_services();

// Makes services the backend in use (tests install a machine of their own;
// see sim::Machine::install). Returns the one it replaces, which may be
// null before the first use. Not for use while another thread calls into
// the seam.
Services* set_platform_services(Services* services);

// Text conversions at the seam, through the machine's ANSI code page
// (invalid input is replaced, never refused).
WString ansi_to_wide(std::string_view text);
std::string wide_to_ansi(WStringView text);

}  // namespace plat
