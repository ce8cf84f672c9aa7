// The main-screen line editor: reads console events itself (the switcher's
// wait loop is suspended meanwhile) and edits one line at the cursor of
// `screen`. Main thread only.
#pragma once

class TConsole;
class TStringHistory;

// `buffer` receives the zero-terminated line and must hold maxLength + 1
// bytes. `history` (may be null) is offered on UP/DOWN through a private
// copy; the line entered is not added to it. Refused keys beep. Returns false
// when the user pressed ESC.
bool LineInput(TConsole& console, int screen, char* buffer, int maxLength,
               const TStringHistory* history, bool echo);
