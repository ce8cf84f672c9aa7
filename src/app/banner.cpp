#include "app/banner.h"

#include "console/console.h"

void WriteBanner(TConsole& console, int screen) {
    static const char* const kLines[] = {
        "Quenlor, version 3.24\r\n",
        "Telnet and SSH terminal client for POSIX terminals.\r\n",
        "Written by the Quenlor developers.\r\n",
        "\r\n",
        "This one is a beta version, so... don't expect it's bug free...\r\n",
        "Report problems on the project's issue tracker.\r\n",
        "New versions are published in the project's repository.\r\n",
        "\r\n",
        "Press ESC to exit or ALT+A to begin a session.\r\n\r\n",
        "\r\n",
    };
    for (const char* line : kLines) console.WriteText(screen, line);
}
