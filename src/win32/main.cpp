// The GUI entry of the service pack.
#include "launcher.h"
#include "win32/win32_platform.h"
#include "win32/windows_support.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  sp::win32::RestrictDllSearch();
  sp::win32::Win32Resources resources;
  sp::win32::Win32Boxes boxes;
  sp::win32::Win32Thread thread;
  sp::win32::Win32Environment environment;
  sp::win32::Win32CommandLine command_line;
  sp::win32::Win32Files files;
  sp::win32::Win32Msi msi;
  sp::win32::Win32Registry registry;
  sp::win32::Win32Version version;
  sp::Platform platform{resources, boxes, thread,   environment, command_line,
                        files,     msi,   registry, version};
  return sp::RunServicePack(platform,
                            reinterpret_cast<sp::ModuleHandle>(instance));
}
