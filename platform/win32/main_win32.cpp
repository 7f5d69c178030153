// Program entry of tidewell.exe: program location, common controls, the Win32 window backend, the
// frame with the application installed, and the frame's run as the process exit code.
#include <windows.h>

#include <commctrl.h>

#include "app/application.h"
#include "platform/win32/backend_win32.h"
#include "runtime/services.h"
#include "ui/frame.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command*/,
                    int /*show*/) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof(icc);
  icc.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&icc);

  // The program directory becomes the current directory before anything reads a file.
  tw::InitProgramLocation();
  tw::Win32Backend backend;
  tw::Frame frame(backend);
  tw::Application application(frame);
  return frame.Run();
}
