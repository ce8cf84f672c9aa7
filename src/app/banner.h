// The banner screen's text, shown whenever no session is current.
#pragma once

class TConsole;

void WriteBanner(TConsole& console, int screen);
