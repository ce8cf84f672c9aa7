#include "platform/beep.h"

#include "platform/terminal_output.h"

void MessageBeep(int /*type*/) {
    TerminalWrite("\a");
}
